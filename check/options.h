// The command line of kobrat-check: options, the help and the version.
#pragma once

// The exit statuses of kobrat-check.
inline constexpr int CHECK_SOUND = 0;   // every file is sound
inline constexpr int CHECK_FAULTY = 1;  // a file is not
inline constexpr int CHECK_TROUBLE = 2; // a usage error, or a failed read or
                                        // write

struct CheckOptions {
  bool text = false; // --text: write the texts back instead of a verdict
  char **files = nullptr;
  int file_count = 0;
};

enum class OptionsResult {
  RUN,   // the options are in `options`
  DONE,  // the help or the version was printed
  USAGE, // a usage error was reported on standard error
};

OptionsResult read_options(int argc, char **argv, CheckOptions &options);
