// A pseudo-terminal driver for the tests: runs the kobrat binary with a
// fresh pty as its controlling terminal, types keys into it and reads what
// it shows. The test keeps its own descriptor of the terminal side, so the
// terminal's mode can be compared after the program has ended.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <sys/types.h>
#include <termios.h>
#include <vector>

namespace kt {

using std::chrono::milliseconds;

// How long a wait for the program lasts before the test fails.
inline constexpr milliseconds PTY_TIMEOUT{5000};

struct PtyOptions {
  std::string cwd; // the program's working folder
  // Files for the standard streams; empty: the terminal itself.
  std::string stdin_path;
  std::string stdout_path;
  std::string stderr_path;
};

// Bytes as a failure message shows them: control characters escaped.
std::string printable(const std::string &bytes);

class Pty {
public:
  // Opens the pty, puts its terminal side in the default mode of a fresh
  // pty (canonical input, echo and signal keys on) and starts kobrat with
  // `args` as a session leader with the pty as its controlling terminal.
  Pty(const std::vector<std::string> &args, const PtyOptions &options);
  // Kills the program if it is still running.
  ~Pty();
  Pty(const Pty &) = delete;
  Pty &operator=(const Pty &) = delete;

  // Types `keys` on the terminal. "\x03" is Ctrl-C: with signal keys on, the
  // terminal turns it into SIGINT for the program.
  void send(const std::string &keys);

  // Waits until `text` shows on the screen after the end of the previous
  // match. False, with a test failure showing the screen, on timeout.
  bool expect(const std::string &text, milliseconds timeout = PTY_TIMEOUT);

  // Like expect(), without the failure: for text that must not show.
  bool appears(const std::string &text, milliseconds within);

  // Waits until `done` returns true, reading the screen meanwhile (the
  // program may be waiting for its output to be taken). False, with a test
  // failure naming `what`, on timeout.
  bool wait_until(const std::function<bool()> &done, const char *what,
                  milliseconds timeout = PTY_TIMEOUT);

  // Waits until the terminal's mode satisfies `ready`, as wait_until().
  bool wait_for_mode(const std::function<bool(const termios &)> &ready,
                     const char *what, milliseconds timeout = PTY_TIMEOUT);

  // Waits for the program to end and returns its exit status (128 + the
  // signal number when a signal ended it). On timeout the program is
  // killed, the test fails and -1 is returned.
  int wait_exit(milliseconds timeout = PTY_TIMEOUT);

  // Everything shown on the screen so far.
  const std::string &screen() const { return screen_; }

  // The program's process id, for signals sent to it directly.
  pid_t pid() const { return child_; }

  // How the terminal's mode now differs from the mode set at the start;
  // empty when it is the same.
  std::string mode_change() const;

  // The characters typed but never read by the program. For use after the
  // end: it puts the terminal in non-canonical mode to see an unfinished
  // line too.
  std::string unread_input();

private:
  // Moves what the screen shows into screen_, waiting at most `wait` for
  // it. True when something came.
  bool read_screen(milliseconds wait);

  int master_ = -1;
  int slave_ = -1;
  pid_t child_ = -1;
  bool exited_ = false;
  termios start_mode_{};
  std::string screen_;
  std::size_t matched_ = 0; // where the next expect() starts looking
};

} // namespace kt
