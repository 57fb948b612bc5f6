// The runs of kobrat-check: a verdict for each file, or the texts of one.
#pragma once

#include "check/options.h"

// Checks each file and prints its verdict line. Returns the exit status.
int check_files(char **files, int file_count);

// Writes the texts of the file's records to standard output as lines.
// Returns the exit status; a failed write of standard output is reported.
int write_texts(const char *file);
