#include "pty.h"

#include "harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace kt {

namespace {

using Clock = std::chrono::steady_clock;

int remaining_ms(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// The program's environment: ours, with a terminal type that draws no
// escape sequences and no readline start-up file of the user's.
std::vector<std::string> child_environment() {
  std::vector<std::string> env;
  for (char **e = environ; *e != nullptr; ++e) {
    std::string entry = *e;
    bool replaced = false;
    for (const char *name : {"TERM=", "INPUTRC=", "COLUMNS=", "LINES="})
      replaced = replaced || entry.rfind(name, 0) == 0;
    if (!replaced)
      env.push_back(entry);
  }
  env.push_back("TERM=dumb");
  env.push_back("INPUTRC=/dev/null");
  return env;
}

std::vector<char *> pointers(std::vector<std::string> &strings) {
  std::vector<char *> result;
  for (std::string &s : strings)
    result.push_back(s.data());
  result.push_back(nullptr);
  return result;
}

// In the child, between fork and exec: the pty becomes the controlling
// terminal and, where no file is named, the standard streams.
[[noreturn]] void start_child(int slave, const PtyOptions &options,
                              char *const argv[], char *const envp[]) {
  setsid();
  if (ioctl(slave, TIOCSCTTY, 0) != 0)
    _exit(126);
  // Signal states the test process may have (an ignored SIGINT in a
  // background job, an ignored SIGPIPE) are not the program's.
  struct sigaction standard = {};
  standard.sa_handler = SIG_DFL;
  for (int sig :
       {SIGINT, SIGQUIT, SIGPIPE, SIGHUP, SIGTERM, SIGTSTP, SIGTTIN, SIGTTOU})
    sigaction(sig, &standard, nullptr);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);

  // Descriptors above 2 first, so that none is overwritten by the dup2s.
  const std::string *paths[3] = {&options.stdin_path, &options.stdout_path,
                                 &options.stderr_path};
  int fds[3];
  for (int i = 0; i < 3; ++i) {
    int fd = slave;
    if (!paths[i]->empty())
      fd = i == 0 ? open(paths[i]->c_str(), O_RDONLY)
                  : open(paths[i]->c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    fds[i] = fd < 0 ? -1 : fcntl(fd, F_DUPFD_CLOEXEC, 3);
    if (fds[i] < 0)
      _exit(125);
  }
  for (int i = 0; i < 3; ++i)
    if (dup2(fds[i], i) < 0)
      _exit(125);
  if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0)
    _exit(124);
  execve(kobrat_binary(), argv, envp);
  _exit(127);
}

std::string flag_change(const char *name, tcflag_t before, tcflag_t after) {
  if (before == after)
    return "";
  char text[96];
  std::snprintf(text, sizeof text, "%s 0%o -> 0%o; ", name,
                static_cast<unsigned>(before), static_cast<unsigned>(after));
  return text;
}

} // namespace

// Line ends are kept as well as escaped, so the dialog reads as it looked.
std::string printable(const std::string &bytes) {
  std::string shown;
  for (unsigned char c : bytes) {
    if (c == '\n') {
      shown += "\\n\n";
    } else if (c == '\r') {
      shown += "\\r";
    } else if (c < 0x20 || c == 0x7f) {
      char code[8];
      std::snprintf(code, sizeof code, "\\x%02x", c);
      shown += code;
    } else {
      shown += static_cast<char>(c);
    }
  }
  return shown;
}

Pty::Pty(const std::vector<std::string> &args, const PtyOptions &options) {
  // POSIX calls rather than openpty(): the system's <pty.h> is hidden by
  // this folder's own header of that name.
  char slave_name[128];
  master_ = posix_openpt(O_RDWR | O_NOCTTY);
  if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0 ||
      ptsname_r(master_, slave_name, sizeof slave_name) != 0 ||
      (slave_ = open(slave_name, O_RDWR | O_NOCTTY)) < 0) {
    ADD_FAILURE() << "opening a pty: " << std::strerror(errno);
    exited_ = true;
    return;
  }
  fcntl(master_, F_SETFD, FD_CLOEXEC);
  fcntl(slave_, F_SETFD, FD_CLOEXEC);
  fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);

  // A fresh pty's defaults, with the modes the program relies on made sure.
  tcgetattr(slave_, &start_mode_);
  start_mode_.c_lflag |= ICANON | ECHO | ISIG;
  start_mode_.c_iflag |= ICRNL;
  tcsetattr(slave_, TCSANOW, &start_mode_);
  tcgetattr(slave_, &start_mode_);
  // Wide enough that readline never scrolls a long path sideways.
  winsize size = {};
  size.ws_row = 50;
  size.ws_col = 200;
  ioctl(slave_, TIOCSWINSZ, &size);

  std::vector<std::string> argv_strings = {kobrat_binary()};
  argv_strings.insert(argv_strings.end(), args.begin(), args.end());
  std::vector<std::string> env_strings = child_environment();
  std::vector<char *> argv = pointers(argv_strings);
  std::vector<char *> envp = pointers(env_strings);

  child_ = fork();
  if (child_ == 0)
    start_child(slave_, options, argv.data(), envp.data());
  if (child_ < 0) {
    ADD_FAILURE() << "fork: " << std::strerror(errno);
    exited_ = true;
  }
}

Pty::~Pty() {
  if (!exited_ && child_ > 0) {
    kill(child_, SIGKILL);
    waitpid(child_, nullptr, 0);
  }
  if (master_ >= 0)
    close(master_);
  if (slave_ >= 0)
    close(slave_);
}

void Pty::send(const std::string &keys) {
  std::size_t at = 0;
  Clock::time_point deadline = Clock::now() + PTY_TIMEOUT;
  while (at < keys.size()) {
    ssize_t n = write(master_, keys.data() + at, keys.size() - at);
    if (n > 0) {
      at += static_cast<std::size_t>(n);
    } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
      ADD_FAILURE() << "writing to the pty: " << std::strerror(errno);
      return;
    } else if (remaining_ms(deadline) == 0) {
      ADD_FAILURE() << "the program does not take the keys typed";
      return;
    } else {
      // The terminal's input queue is full: read the screen meanwhile, as
      // the program may be waiting for its output to be taken.
      read_screen(milliseconds(5));
    }
  }
}

bool Pty::read_screen(milliseconds wait) {
  pollfd p = {master_, POLLIN, 0};
  if (poll(&p, 1, static_cast<int>(wait.count())) <= 0)
    return false;
  std::size_t before = screen_.size();
  char buffer[4096];
  for (;;) {
    ssize_t n = read(master_, buffer, sizeof buffer);
    if (n > 0)
      screen_.append(buffer, static_cast<std::size_t>(n));
    else if (!(n < 0 && errno == EINTR))
      return screen_.size() > before; // EAGAIN: all read for now
  }
}

bool Pty::appears(const std::string &text, milliseconds within) {
  Clock::time_point deadline = Clock::now() + within;
  for (;;) {
    std::size_t at = screen_.find(text, matched_);
    if (at != std::string::npos) {
      matched_ = at + text.size();
      return true;
    }
    if (remaining_ms(deadline) == 0)
      return false;
    read_screen(milliseconds(std::min(remaining_ms(deadline), 50)));
  }
}

bool Pty::expect(const std::string &text, milliseconds timeout) {
  if (appears(text, timeout))
    return true;
  ADD_FAILURE() << "timed out waiting for \"" << printable(text)
                << "\" on the screen; it shows:\n"
                << printable(screen_.substr(0, matched_))
                << "[matched so far]\n"
                << printable(screen_.substr(matched_));
  return false;
}

bool Pty::wait_until(const std::function<bool()> &done, const char *what,
                     milliseconds timeout) {
  Clock::time_point deadline = Clock::now() + timeout;
  for (;;) {
    if (done())
      return true;
    if (remaining_ms(deadline) == 0)
      break;
    read_screen(milliseconds(1));
  }
  ADD_FAILURE() << "timed out waiting until " << what << "; the screen shows:\n"
                << printable(screen_);
  return false;
}

bool Pty::wait_for_mode(const std::function<bool(const termios &)> &ready,
                        const char *what, milliseconds timeout) {
  return wait_until(
      [&] {
        termios mode;
        return tcgetattr(slave_, &mode) == 0 && ready(mode);
      },
      what, timeout);
}

int Pty::wait_exit(milliseconds timeout) {
  if (child_ <= 0)
    return -1;
  Clock::time_point deadline = Clock::now() + timeout;
  int status = 0;
  for (;;) {
    pid_t done = waitpid(child_, &status, WNOHANG);
    if (done == child_)
      break;
    if (remaining_ms(deadline) == 0) {
      kill(child_, SIGKILL);
      waitpid(child_, nullptr, 0);
      exited_ = true;
      read_screen(milliseconds(0));
      ADD_FAILURE() << "the program did not end; the screen shows:\n"
                    << printable(screen_);
      return -1;
    }
    read_screen(milliseconds(5));
  }
  exited_ = true;
  // What the program wrote last may still be on its way through the pty.
  while (read_screen(milliseconds(10))) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string Pty::mode_change() const {
  termios now;
  if (tcgetattr(slave_, &now) != 0)
    return std::string("tcgetattr: ") + std::strerror(errno);
  std::string change;
  change += flag_change("c_iflag", start_mode_.c_iflag, now.c_iflag);
  change += flag_change("c_oflag", start_mode_.c_oflag, now.c_oflag);
  change += flag_change("c_cflag", start_mode_.c_cflag, now.c_cflag);
  change += flag_change("c_lflag", start_mode_.c_lflag, now.c_lflag);
  for (int i = 0; i < NCCS; ++i)
    if (start_mode_.c_cc[i] != now.c_cc[i])
      change += "c_cc[" + std::to_string(i) + "] " +
                std::to_string(start_mode_.c_cc[i]) + " -> " +
                std::to_string(now.c_cc[i]) + "; ";
  if (cfgetispeed(&start_mode_) != cfgetispeed(&now) ||
      cfgetospeed(&start_mode_) != cfgetospeed(&now))
    change += "speed; ";
  return change;
}

std::string Pty::unread_input() {
  termios mode;
  if (tcgetattr(slave_, &mode) != 0)
    return "";
  mode.c_lflag &= ~ICANON;
  mode.c_cc[VMIN] = 0;
  mode.c_cc[VTIME] = 0;
  tcsetattr(slave_, TCSANOW, &mode);
  std::string unread;
  char buffer[256];
  ssize_t n;
  while ((n = read(slave_, buffer, sizeof buffer)) > 0)
    unread.append(buffer, static_cast<std::size_t>(n));
  return unread;
}

} // namespace kt
