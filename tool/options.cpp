// Option scanning. Options follow the first argument that begins with '-';
// the only option is 'r', which takes a value that has no effect.
#include "INCLUDE1/exit_status.h"
#include "tool/run.h"

#include <cstdio>

namespace {

[[noreturn]] void reject(const char *what, char option) {
  std::printf("\n\nfound %s option %c\n", what, option);
  abort_run(ILLEGAL_OR_INCOMPLETE_OPTION);
}

// Examines the option characters of argv[at]. Returns the index of the
// argument after it and after the value it consumed.
int scan_option_argument(int argc, char **argv, int at) {
  for (const char *c = argv[at] + 1; *c != '\0'; ++c) {
    if (*c != 'r')
      reject("illegal", *c);
    if (c[1] != '\0')
      return at + 1; // the value stands in the same argument: -r80
    if (at + 1 >= argc)
      reject("incomplete", 'r');
    return at + 2; // the value is the next argument: -r 80
  }
  return at + 1; // a lone '-'
}

} // namespace

void scan_options(int argc, char **argv) {
  int at = 1;
  while (at < argc && argv[at][0] != '-')
    ++at;
  while (at < argc && argv[at][0] == '-')
    at = scan_option_argument(argc, argv, at);
}
