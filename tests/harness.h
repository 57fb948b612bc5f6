// Test helpers: scratch folders, files, records, and runs of the real
// binary without a terminal.
#pragma once

#include <csignal>
#include <string>
#include <vector>

namespace kt {

// Makes SIGPIPE a failed write instead of the end of the test, while the
// test feeds a program (through a pipe or FIFO) that may have gone.
struct IgnoredSigpipe {
  IgnoredSigpipe() {
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, &saved);
  }
  ~IgnoredSigpipe() { sigaction(SIGPIPE, &saved, nullptr); }
  IgnoredSigpipe(const IgnoredSigpipe &) = delete;
  IgnoredSigpipe &operator=(const IgnoredSigpipe &) = delete;
  struct sigaction saved = {};
};

// The kobrat binary under test: the one built beside the tests, or the one
// that KOBRAT_UNDER_TEST names (such as a Windows kobrat.exe).
const char *kobrat_binary();

// The binary under test is a Windows program, run through KOBRAT_RUNNER
// (wine). The tests then expect what that platform says and does.
bool testing_windows_build();

// `posix` for the Linux build, `windows` for the Windows one.
std::string by_platform(const std::string &posix, const std::string &windows);

// An absolute path as the binary under test names it: as it is on Linux,
// on the Z: drive (where wine shows the Linux root) on Windows.
std::string native_path(const std::string &absolute);

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
// A run still going after a minute is killed (status 128 + 9).
RunResult run_binary(const char *binary, const std::vector<std::string> &args,
                     const std::string &cwd, const std::string &input = "");

// Runs kobrat the same way, through KOBRAT_RUNNER when that is set (words
// separated by spaces, such as "wine"). A Windows build writes its messages
// in text mode, each line ending in CR LF; they are given here with LF, as
// the Linux build writes them.
RunResult run_kobrat(const std::vector<std::string> &args,
                     const std::string &cwd, const std::string &input = "");

} // namespace kt
