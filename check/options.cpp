// Option scanning with getopt_long. <getopt.h> is the only operating
// system header that kobrat-check includes outside the platform layer.
#include "check/options.h"

#include <cstdio>
#include <getopt.h>

#ifndef KOBRAT_VERSION
#define KOBRAT_VERSION "unknown"
#endif

namespace {

const char PROGRAM[] = "kobrat-check";

const option LONG_OPTIONS[] = {
    {"text", no_argument, nullptr, 't'},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {nullptr, 0, nullptr, 0},
};

void print_help() {
  std::printf(
      "Usage: kobrat-check FILE...\n"
      "       kobrat-check --text FILE\n"
      "Checks files of length-prefixed records as kobrat writes them: four\n"
      "ASCII digits giving the record's length (6 to 2053), the text, CR LF.\n"
      "\n"
      "  -t, --text     write the texts of FILE's records to standard output\n"
      "                 as lines, the pieces of a long line joined\n"
      "  -h, --help     show this help and exit\n"
      "  -V, --version  show the version and exit\n"
      "\n"
      "For each FILE one line on standard output:\n"
      "  FILE: ok, N records, B bytes, longest L\n"
      "  FILE: record N at byte B: what is wrong with it\n"
      "\n"
      "Exit status: 0 every file is sound, 1 a file is not, 2 a usage error\n"
      "or a file that cannot be read.\n");
}

void suggest_help() {
  std::fprintf(stderr, "Try '%s --help' for more information.\n", PROGRAM);
}

OptionsResult usage_error(const char *message) {
  std::fprintf(stderr, "%s: %s\n", PROGRAM, message);
  suggest_help();
  return OptionsResult::USAGE;
}

} // namespace

OptionsResult read_options(int argc, char **argv, CheckOptions &options) {
  int c;
  while ((c = getopt_long(argc, argv, "thV", LONG_OPTIONS, nullptr)) != -1) {
    switch (c) {
    case 't':
      options.text = true;
      break;
    case 'h':
      print_help();
      return OptionsResult::DONE;
    case 'V':
      std::printf("%s %s\n", PROGRAM, KOBRAT_VERSION);
      return OptionsResult::DONE;
    default: // getopt_long has named the option on standard error
      suggest_help();
      return OptionsResult::USAGE;
    }
  }
  options.files = argv + optind;
  options.file_count = argc - optind;
  if (options.file_count == 0)
    return usage_error("no file named");
  if (options.text && options.file_count > 1)
    return usage_error("--text takes one file");
  return OptionsResult::RUN;
}
