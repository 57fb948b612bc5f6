// The console on POSIX: standard streams, the interrupt (SIGINT), the
// controlling terminal (/dev/tty) for single keys, and standard input.
#include "platform/platform.h"
#include "platform/posix/posix_internal.h"
#include "platform/posix/syscalls.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace platform {

namespace {

// --- interrupt: the signal only records and wakes; the main flow acts ---

volatile std::sig_atomic_t interrupt_arrived = 0;
int wake_pipe[2] = {-1, -1};
void (*interrupt_handler)(int) = nullptr;

volatile std::sig_atomic_t interrupt_seen = 0;

// The first interrupt is recorded for the main flow. A second one ends the
// process by the default action, but only from here: had the default been
// put back at once, it could end a write to the output half way and leave a
// torn record; a caught signal lets that write finish first.
extern "C" void on_interrupt(int signal_number) {
  if (interrupt_seen) {
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
    return;
  }
  int saved = errno;
  interrupt_seen = 1;
  interrupt_arrived = 1;
  if (wake_pipe[1] >= 0) {
    char byte = 1;
    ssize_t ignored = write(wake_pipe[1], &byte, 1);
    (void)ignored;
  }
  errno = saved;
}

bool make_wake_pipe() {
  if (pipe(wake_pipe) != 0)
    return false;
  for (int fd : wake_pipe) {
    fcntl(fd, F_SETFD, FD_CLOEXEC);
    fcntl(fd, F_SETFL, O_NONBLOCK);
  }
  return true;
}

// --- the terminal ---

int tty = -2; // not yet opened
struct termios found_mode;
bool mode_saved = false;

bool set_mode(int fd, const struct termios *mode) {
  int result;
  do
    result = sys::set_mode(fd, mode);
  while (result != 0 && errno == EINTR);
  return result == 0;
}

// Drops what is left of a key that sends several characters (arrow and
// function keys send escape sequences): whatever follows within a moment.
void drain_key(int fd) {
  char rest[32];
  struct pollfd p = {fd, POLLIN, 0};
  while (poll(&p, 1, 30) > 0 && (p.revents & POLLIN) &&
         read(fd, rest, sizeof rest) > 0) {
  }
}

// stdin's own buffer for the Enter wait: one read takes a whole line on a
// terminal, and the characters after the first are given out later.
char input_chars[4096];
long input_next = 0;
long input_end = 0;

} // namespace

namespace posix {

void wait_readable(int fd) {
  for (;;) {
    check_interrupt();
    struct pollfd p[2] = {{fd, POLLIN, 0}, {wake_pipe[0], POLLIN, 0}};
    int n = poll(p, wake_pipe[0] >= 0 ? 2 : 1, -1);
    if (n < 0 && errno != EINTR)
      return; // the read itself reports the fault
    if (n > 0 && p[0].revents != 0) {
      check_interrupt();
      return;
    }
  }
}

int terminal_fd() {
  if (tty == -2)
    tty = sys::open_terminal();
  return tty;
}

void save_terminal_mode() {
  if (mode_saved || terminal_fd() < 0 || sys::get_mode(tty, &found_mode) != 0)
    return;
  mode_saved = true;
  // Every end of the process puts the mode back, also the normal one after
  // a restore that failed where the mode was changed.
  std::atexit(restore_console);
}

} // namespace posix

void setup_standard_streams() {
  // open(2) takes the lowest free descriptor, so each closed one in turn.
  for (int fd = 0; fd <= 2; ++fd)
    if (fcntl(fd, F_GETFD) < 0)
      open("/dev/null", O_RDWR);
  std::setvbuf(stdout, nullptr, isatty(1) ? _IONBF : _IOFBF, BUFSIZ);
  std::setvbuf(stderr, nullptr, isatty(2) ? _IONBF : _IOFBF, BUFSIZ);
}

bool install_interrupt_handler(void (*handler)(int)) {
  interrupt_handler = handler;
  if (wake_pipe[0] < 0 && !make_wake_pipe())
    return false;
  struct sigaction action = {};
  action.sa_handler = on_interrupt;
  sigemptyset(&action.sa_mask);
  // No SA_RESTART, so a blocking call returns to be checked.
  action.sa_flags = 0;
  return sigaction(SIGINT, &action, nullptr) == 0;
}

void check_interrupt() {
  if (interrupt_arrived && interrupt_handler != nullptr) {
    interrupt_arrived = 0;
    void (*handler)(int) = interrupt_handler;
    interrupt_handler = nullptr;
    handler(SIGINT);
  }
}

void restore_console() {
  if (mode_saved)
    set_mode(tty, &found_mode);
}

int read_console_key() {
  int fd = posix::terminal_fd();
  struct termios before;
  if (fd < 0 || sys::get_mode(fd, &before) != 0)
    return -1;
  posix::save_terminal_mode();
  struct termios raw = before;
  raw.c_lflag &= ~(ICANON | ECHO | ISIG | IEXTEN);
  raw.c_iflag &= ~(IXON | ICRNL | INLCR);
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  if (!set_mode(fd, &raw))
    return -1;
  unsigned char key = 0;
  ssize_t n;
  do {
    posix::wait_readable(fd);
    n = sys::read(fd, &key, 1);
  } while (n < 0 && errno == EINTR);
  if (n == 1)
    drain_key(fd);
  set_mode(fd, &before);
  return n == 1 ? key : -1;
}

int read_standard_input_char() {
  if (input_next < input_end)
    return static_cast<unsigned char>(input_chars[input_next++]);
  ssize_t n;
  do {
    posix::wait_readable(0);
    n = sys::read(0, input_chars, sizeof input_chars);
  } while (n < 0 && errno == EINTR);
  if (n <= 0)
    return -1;
  input_next = 1;
  input_end = n;
  return static_cast<unsigned char>(input_chars[0]);
}

} // namespace platform
