// The run driver: the state of a run and the routines that begin and end it.
#pragma once

#include "platform/platform.h"

#include <cstddef>

inline constexpr std::size_t INPUT_BLOCK_SIZE = 65536;

// The process-wide state of a run. Everything starts empty; the buffers are
// allocated once and never released.
struct RunStateFields {
  platform::File input_stream = platform::NO_FILE;
  platform::File output_file = platform::NO_FILE;
  unsigned char *line_buffer = nullptr;   // INPUT_BLOCK_SIZE + 1 bytes
  unsigned char *output_buffer = nullptr; // OUTPUT_BUFFER_ROOM bytes
  const char *input_name = nullptr;
};
extern RunStateFields RunState;

// The program's entry: returns 1 after a complete run, and does not return
// on an early end.
int main_entry(int argc, char **argv);

// Closes whatever of the two files is open and ends the process with
// `status`. Also the handler of the console interrupt, whose signal number
// (2) becomes the status.
[[noreturn]] void abort_run(int status);

void print_help();

// Returns when every option examined is acceptable; otherwise ends the run
// with status 6.
void scan_options(int argc, char **argv);

void allocate_buffers();
void open_files(char **argv);

// Reads the whole input and writes its records to the output file.
void convert_records();
