#include "harness.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace kt {

namespace {

constexpr auto RUN_TIME_LIMIT = std::chrono::seconds(60);

std::vector<std::string> words(const char *text) {
  std::vector<std::string> all;
  std::istringstream in(text != nullptr ? text : "");
  for (std::string word; in >> word;)
    all.push_back(word);
  return all;
}

// Waits for the child; one that outlives the limit is killed with the
// whole session it leads.
int wait_bounded(pid_t child) {
  auto deadline = std::chrono::steady_clock::now() + RUN_TIME_LIMIT;
  int status = 0;
  for (;;) {
    pid_t done = waitpid(child, &status, WNOHANG);
    if (done == child || (done < 0 && errno != EINTR))
      return status;
    if (std::chrono::steady_clock::now() > deadline) {
      kill(-child, SIGKILL);
      waitpid(child, &status, 0);
      return status;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

RunResult run_command(const std::vector<std::string> &command,
                      const std::string &cwd, const std::string &input) {
  TempDir io;
  std::string in_path = io.path("stdin"), out_path = io.path("stdout"),
              err_path = io.path("stderr");
  write_file(in_path, input);
  pid_t child = fork();
  if (child == 0) {
    setsid();
    if (chdir(cwd.c_str()) != 0)
      _exit(127);
    int in = open(in_path.c_str(), O_RDONLY);
    int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    std::vector<char *> argv;
    for (const std::string &a : command)
      argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  RunResult result;
  int status = wait_bounded(child);
  result.status =
      WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.out = read_file(out_path);
  result.err = read_file(err_path);
  return result;
}

std::string lf_lines(const std::string &text) {
  std::string lines;
  for (std::size_t i = 0; i < text.size(); ++i)
    if (text[i] != '\r' || i + 1 == text.size() || text[i + 1] != '\n')
      lines += text[i];
  return lines;
}

} // namespace

const char *kobrat_binary() {
  const char *chosen = std::getenv("KOBRAT_UNDER_TEST");
  return chosen != nullptr && chosen[0] != '\0' ? chosen : KOBRAT_BINARY;
}

bool testing_windows_build() {
  return std::filesystem::path(kobrat_binary()).extension() == ".exe";
}

std::string by_platform(const std::string &posix, const std::string &windows) {
  return testing_windows_build() ? windows : posix;
}

std::string native_path(const std::string &absolute) {
  if (!testing_windows_build())
    return absolute;
  std::string path = "Z:" + absolute;
  for (char &c : path)
    if (c == '/')
      c = '\\';
  return path;
}

TempDir::TempDir() {
  std::string pattern =
      std::filesystem::temp_directory_path() / "kobrat-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr)
    throw std::runtime_error("mkdtemp failed");
  root = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(root, ignored);
}

std::string TempDir::path(const std::string &name) const {
  return root + "/" + name;
}

std::string read_file(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

void write_file(const std::string &path, const std::string &bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

bool file_exists(const std::string &path) {
  return std::filesystem::exists(std::filesystem::symlink_status(path));
}

std::string record(const std::string &text) {
  char prefix[8];
  std::snprintf(prefix, sizeof prefix, "%04zu", text.size() + 6);
  return prefix + text + "\r\n";
}

bool whole_records(const std::string &bytes) {
  std::size_t at = 0;
  while (at < bytes.size()) {
    if (bytes.size() - at < 6)
      return false;
    std::size_t length = 0;
    for (int i = 0; i < 4; ++i) {
      char c = bytes[at + i];
      if (c < '0' || c > '9')
        return false;
      length = length * 10 + static_cast<std::size_t>(c - '0');
    }
    if (length < 6 || length > bytes.size() - at ||
        bytes.compare(at + length - 2, 2, "\r\n") != 0)
      return false;
    at += length;
  }
  return true;
}

RunResult run_binary(const char *binary, const std::vector<std::string> &args,
                     const std::string &cwd, const std::string &input) {
  std::vector<std::string> command = {binary};
  command.insert(command.end(), args.begin(), args.end());
  return run_command(command, cwd, input);
}

RunResult run_kobrat(const std::vector<std::string> &args,
                     const std::string &cwd, const std::string &input) {
  std::vector<std::string> command = words(std::getenv("KOBRAT_RUNNER"));
  command.push_back(kobrat_binary());
  command.insert(command.end(), args.begin(), args.end());
  RunResult result = run_command(command, cwd, input);
  if (testing_windows_build()) {
    result.out = lf_lines(result.out);
    result.err = lf_lines(result.err);
  }
  return result;
}

} // namespace kt
