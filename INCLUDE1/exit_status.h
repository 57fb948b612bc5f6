// The exit statuses of the tool, with their fixed names. One table, used by
// the run driver and by the output file module alike.
#pragma once

enum ExitStatus : int {
  NORMAL_EXIT = 1,
  USER_ABORTED = 2,
  INPUT_FILE = 3,
  OUTPUT_FILE = 4,
  PARAMATER_FILE = 5,
  ILLEGAL_OR_INCOMPLETE_OPTION = 6,
  INSUFFICIENT_MEMORY = 7,
  OTHER_EXIT = 8,
  WRITE_ERROR = 9,
  READ_ERROR = 11,
};

// The fixed name of a status ("NORMAL_EXIT", "ILLEGAL or INCOMPLETE OPTION"),
// or nullptr for a number that is not a status of the table.
constexpr const char *exit_status_name(int status) {
  switch (status) {
  case NORMAL_EXIT:
    return "NORMAL_EXIT";
  case USER_ABORTED:
    return "USER_ABORTED";
  case INPUT_FILE:
    return "INPUT_FILE";
  case OUTPUT_FILE:
    return "OUTPUT_FILE";
  case PARAMATER_FILE:
    return "PARAMATER_FILE";
  case ILLEGAL_OR_INCOMPLETE_OPTION:
    return "ILLEGAL or INCOMPLETE OPTION";
  case INSUFFICIENT_MEMORY:
    return "INSUFFICIENT MEMORY";
  case OTHER_EXIT:
    return "OTHER_EXIT";
  case WRITE_ERROR:
    return "WRITE_ERROR";
  case READ_ERROR:
    return "READ_ERROR";
  default:
    return nullptr;
  }
}
