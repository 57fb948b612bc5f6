// kobrat-check: checks files of length-prefixed records, or writes their
// texts back as lines.
#include "check/options.h"
#include "check/run.h"
#include "platform/platform.h"

#include <cstdio>

namespace {

// Output that did not reach standard output is a failure of the run.
int flush_output(int status) {
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fprintf(stderr, "kobrat-check: standard output: %s\n",
                 platform::error_text(platform::last_error()));
    return CHECK_TROUBLE;
  }
  return status;
}

} // namespace

int main(int argc, char **argv) {
  platform::setup_standard_streams();
  CheckOptions options;
  switch (read_options(argc, argv, options)) {
  case OptionsResult::DONE:
    return flush_output(CHECK_SOUND);
  case OptionsResult::USAGE:
    return CHECK_TROUBLE;
  case OptionsResult::RUN:
    break;
  }
  if (options.text)
    return write_texts(options.files[0]); // it reports its own output
  return flush_output(check_files(options.files, options.file_count));
}
