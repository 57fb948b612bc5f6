#include "harness.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace kt {

const char *kobrat_binary() { return KOBRAT_BINARY; }

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
    argv.push_back(const_cast<char *>(binary));
    for (const std::string &a : args)
      argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    execv(binary, argv.data());
    _exit(127);
  }
  RunResult result;
  int status = 0;
  waitpid(child, &status, 0);
  result.status =
      WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.out = read_file(out_path);
  result.err = read_file(err_path);
  return result;
}

RunResult run_kobrat(const std::vector<std::string> &args,
                     const std::string &cwd, const std::string &input) {
  return run_binary(kobrat_binary(), args, cwd, input);
}

} // namespace kt
