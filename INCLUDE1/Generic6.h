// The output file module: turns an output name into an open output file,
// letting the user pick the file in the file-selection dialog when the name
// asks for it, and writes blocks of bytes to that file. Its questions and
// diagnostics go to standard error.
#pragma once

#include "platform/platform.h"

#include <cstddef>

enum class OutputMode { OVERWRITE = 0, APPEND = 1 };

inline constexpr std::size_t MAX_PATH_CHARS = 260;

// Provided by the program that uses the module: closes the program's files
// and ends the process with `status`.
[[noreturn]] void abort_run(int status);

// Shows the file-selection dialog, starting from the last chosen path.
// Returns the chosen path, or nullptr when none was chosen.
const char *select_output_name();

// Returns an open output file: at its end in append mode, emptied in
// overwrite mode. Never returns without one: it ends the process with
// status 4 when no file can be opened or the user chooses to abort.
platform::File open_output(const char *name, OutputMode mode);

// Writes all `count` bytes; returns `count`, or 0 when the write failed.
std::size_t write_block(platform::File handle, const void *bytes,
                        std::size_t count);

// Names the program's input file, which the output must never be: an
// attempt to open it as the output fails.
void guard_input_file(platform::File input);

// The name of the file that open_output opened ("" before that).
const char *output_name();
