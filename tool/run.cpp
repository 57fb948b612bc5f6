// The run driver: the run sequence, the help text, the buffers, the input
// and the routine that ends a run early.
#include "tool/run.h"

#include "INCLUDE1/Generic6.h"
#include "INCLUDE1/exit_status.h"
#include "tool/records.h"

#include <cstdio>
#include <cstdlib>

RunStateFields RunState;

namespace {

// Closes a file of the run once; the field is emptied so that a second
// close (an interrupt after the normal end) does nothing.
bool close_once(platform::File &file) {
  if (file == platform::NO_FILE)
    return true;
  platform::File closing = file;
  file = platform::NO_FILE;
  return platform::close_file(closing);
}

unsigned char *allocate_or_end(std::size_t size) {
  auto *buffer = static_cast<unsigned char *>(std::malloc(size));
  if (buffer == nullptr) {
    std::printf("\nnot enough memory for input buffer\n");
    std::printf("change your input block size if possible\n");
    abort_run(INSUFFICIENT_MEMORY);
  }
  buffer[0] = 0;
  return buffer;
}

// The output's last bytes reach the file only if its close succeeds.
void close_output_or_end() {
  if (!close_once(RunState.output_file)) {
    int error = platform::last_error();
    std::fprintf(stderr, "\nerror closing output file %s: %s\n", output_name(),
                 platform::error_text(error));
    abort_run(WRITE_ERROR);
  }
}

} // namespace

void abort_run(int status) {
  platform::restore_console();
  close_once(RunState.input_stream);
  close_once(RunState.output_file);
  std::exit(status);
}

void print_help() {
  std::printf("\nKOBRAT  adds a record length to every line of a text "
              "file\n\n");
  std::printf("\n\nUsage:\n\nKOBRAT  inputfile  outputfile\n");
  std::printf("\nKOBRA is designed to add a 4 byte record length to the "
              "beginning\n");
  std::printf("of a CR/LF delimeted record. This addition will make it "
              "compatable with\n");
  std::printf("a mainframe format which the quelder program is able to "
              "read.\n");
  std::printf("\nIn reprocessing the output with quelder.exe it is expected "
              "the user is\n");
  std::printf("very familiar with the record layout of the file.\n\n");
}

void allocate_buffers() {
  RunState.line_buffer = allocate_or_end(INPUT_BLOCK_SIZE + 1);
  RunState.output_buffer = allocate_or_end(OUTPUT_BUFFER_ROOM);
}

void open_files(char **argv) {
  RunState.input_name = argv[1];
  std::printf("\n");
  std::printf("Processing input %16s ", argv[1]);
  RunState.input_stream = platform::open_input(argv[1]);
  if (RunState.input_stream == platform::NO_FILE) {
    int error = platform::last_error();
    std::printf("Can't open input file %s\n", argv[1]);
    std::printf("reason: %s\n", platform::error_text(error));
    abort_run(INPUT_FILE);
  }
  guard_input_file(RunState.input_stream);
  RunState.output_file = open_output(argv[2], OutputMode::OVERWRITE);
}

int main_entry(int argc, char **argv) {
  platform::setup_standard_streams();
  platform::install_interrupt_handler(abort_run);
  if (argc < 3) {
    print_help();
    platform::check_interrupt();
    std::exit(INPUT_FILE);
  }
  scan_options(argc, argv);
  allocate_buffers();
  open_files(argv);
  convert_records();
  platform::check_interrupt();
  close_once(RunState.input_stream);
  close_output_or_end();
  return NORMAL_EXIT;
}
