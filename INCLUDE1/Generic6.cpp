// The output file module: the file-selection dialog, the existing-file
// question, the open attempts with their diagnostics, and block writes.
#include "INCLUDE1/Generic6.h"

#include "INCLUDE1/exit_status.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// The dialog's buffers live for the whole process: the path buffer carries
// the last chosen path into the next dialog as its initial name.
struct DialogState {
  char path[MAX_PATH_CHARS] = "";
  char file_title[MAX_PATH_CHARS] = "";
  platform::DialogResult last = platform::DialogResult::CANCELLED;
};
DialogState dialog_state;

const platform::FileFilter OUTPUT_FILTER[] = {
    {"All Files (*.*)", "*.*"},
    {"Data Files (*.OUT)", "*.OUT"},
};

const platform::DialogSettings DIALOG_SETTINGS = {"Output File Selection",
                                                  OUTPUT_FILTER, 2, 1};

// Overwrite mode makes this many creating attempts; append mode makes this
// many after its one open of an existing file.
constexpr int ATTEMPTS = 2;

platform::File guarded_input = platform::NO_FILE;
const char *opened_name = "";

const char *shown(const char *name) {
  return name != nullptr ? name : "(null)";
}

// The system's reason for a failed attempt, on a line of its own after the
// report.
void report_reason(const char *name, int error) {
  std::fprintf(stderr, "reason: %s\n",
               name == nullptr ? "no file was chosen"
                               : platform::error_text(error));
}

bool asks_for_dialog(const char *name) {
  return name[0] != '\0' &&
         std::strchr(platform::DIALOG_NAME_MARKS, name[0]) != nullptr;
}

// The dialog at the start: shown until a path is chosen. Where it cannot be
// shown at all, asking again would never end.
const char *choose_first_name() {
  for (;;) {
    const char *path = select_output_name();
    if (path != nullptr)
      return path;
    if (dialog_state.last == platform::DialogResult::UNAVAILABLE) {
      std::fprintf(stderr, "\n\nno output file could be chosen: the file "
                           "selection dialog needs a terminal\n");
      abort_run(OUTPUT_FILE);
    }
  }
}

// The question about a chosen file that exists. Returns the mode to use.
OutputMode ask_about_existing(const char *path, OutputMode mode) {
  if (mode != OutputMode::OVERWRITE || !platform::path_exists(path))
    return mode;
  std::fprintf(stderr, "\n\n%s aleady exists\n", path);
  std::fprintf(stderr, "Do you wish to overwrite Y\n");
  std::fprintf(stderr, "Do you wish to abort     Q\n");
  std::fprintf(stderr, "Do you wish to append    A\n");
  std::fprintf(stderr, "Enter a Y, Q, or A ");
  int key = platform::read_console_key();
  std::fprintf(stderr, "\n\n");
  switch (key) {
  case 3: // Ctrl-C, read as a character while the key is read raw
    abort_run(USER_ABORTED);
  case 'N':
  case 'n':
  case 'Q':
  case 'q':
    abort_run(OUTPUT_FILE);
  case 'A':
  case 'a':
    return OutputMode::APPEND;
  default: // Y, y, O, o, any other key, no key
    return OutputMode::OVERWRITE;
  }
}

platform::File try_open(const char *name, platform::Disposition how,
                        int *error) {
  platform::File file = platform::open_output_file(name, how, guarded_input);
  *error = platform::last_error();
  if (file != platform::NO_FILE &&
      how != platform::Disposition::CREATE_ALWAYS &&
      !platform::seek_to_end(file)) {
    *error = platform::last_error();
    platform::close_file(file);
    return platform::NO_FILE;
  }
  return file;
}

// Between attempts: the Enter wait, then a new name from the dialog.
const char *next_name() {
  std::fprintf(stderr, "hit return to choose new output file");
  platform::read_standard_input_char();
  return select_output_name();
}

[[noreturn]] void give_up(const char *name) {
  std::fprintf(stderr, "\n%s\n%d\nerror opening output file %s\n", __FILE__,
               __LINE__, shown(name));
  std::exit(OUTPUT_FILE);
}

platform::File opened(platform::File file, const char *name) {
  opened_name = name;
  return file;
}

platform::File open_for_overwrite(const char *name) {
  for (int attempt = 1;; ++attempt) {
    int error;
    platform::File file =
        try_open(name, platform::Disposition::CREATE_ALWAYS, &error);
    if (file != platform::NO_FILE)
      return opened(file, name);
    std::fprintf(stderr, "\n%s\n%d\nerror opening output file %s\n", __FILE__,
                 __LINE__, shown(name));
    report_reason(name, error);
    if (attempt == ATTEMPTS)
      give_up(name);
    name = next_name();
  }
}

platform::File open_for_append(const char *name) {
  int error;
  platform::File file =
      try_open(name, platform::Disposition::OPEN_EXISTING, &error);
  if (file != platform::NO_FILE)
    return opened(file, name);
  for (int attempt = 1;; ++attempt) {
    file = try_open(name, platform::Disposition::CREATE_NEW, &error);
    if (file != platform::NO_FILE)
      return opened(file, name);
    std::fprintf(stderr, "\n%s\n%d\nerror opening/creating output file %s\n",
                 __FILE__, __LINE__, shown(name));
    report_reason(name, error);
    if (attempt == ATTEMPTS)
      give_up(name);
    name = next_name();
  }
}

} // namespace

const char *select_output_name() {
  dialog_state.last = platform::choose_file(
      DIALOG_SETTINGS, dialog_state.path, sizeof dialog_state.path,
      dialog_state.file_title, sizeof dialog_state.file_title);
  if (dialog_state.last != platform::DialogResult::CHOSEN)
    return nullptr;
  return dialog_state.path;
}

platform::File open_output(const char *name, OutputMode mode) {
  if (asks_for_dialog(name)) {
    name = choose_first_name();
    mode = ask_about_existing(name, mode);
  }
  platform::use_ansi_file_names();
  if (mode == OutputMode::APPEND)
    return open_for_append(name);
  return open_for_overwrite(name);
}

std::size_t write_block(platform::File handle, const void *bytes,
                        std::size_t count) {
  return platform::write_all(handle, bytes, count) ? count : 0;
}

void guard_input_file(platform::File input) { guarded_input = input; }

const char *output_name() { return opened_name; }
