// Test helpers: scratch folders, files, records, and runs of the real
// binary without a terminal.
#pragma once

#include <string>
#include <vector>

namespace kt {

// The kobrat binary under test.
const char *kobrat_binary();

// A scratch folder, removed with everything in it when the object goes.
struct TempDir {
  TempDir();
  ~TempDir();
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;
  std::string path(const std::string &name) const;
  std::string root;
};

std::string read_file(const std::string &path);
void write_file(const std::string &path, const std::string &bytes);
bool file_exists(const std::string &path);

// One record: the four-digit length, the text, CR LF.
std::string record(const std::string &text);

// True when `bytes` is a sequence of whole records, each prefix matching
// its record's length and each record ending in CR LF.
bool whole_records(const std::string &bytes);

struct RunResult {
  int status = -1; // exit status, or 128 + signal number
  std::string out; // standard output
  std::string err; // standard error
};

// Runs the program `binary` with `args` in folder `cwd`, in a session of
// its own with no controlling terminal, with `input` on standard input.
RunResult run_binary(const char *binary, const std::vector<std::string> &args,
                     const std::string &cwd, const std::string &input = "");

// Runs kobrat the same way.
RunResult run_kobrat(const std::vector<std::string> &args,
                     const std::string &cwd, const std::string &input = "");

} // namespace kt
