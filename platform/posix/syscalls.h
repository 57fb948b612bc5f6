// The system calls of the POSIX backend that can fail, each behind a seam.
// In the normal build every wrapper is the system call itself. In the fault
// build (KOBRAT_FAULTS), a test can make the Nth call of any of them fail
// with an errno value of its choice, or come back short, to show that each
// failure is reported and nothing is lost silently.
#pragma once

#include <cerrno>
#include <cstddef>
#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace platform::posix::sys {

enum class Op {
  OPEN_INPUT,
  READ,
  OPEN_OUTPUT,
  WRITE,
  CLOSE,
  SEEK,
  EXISTS,
  TRUNCATE,
  TERMINAL,
  RESERVE,
};

#ifdef KOBRAT_FAULTS
// Counts the call of `op`; true when this call is to fail, with errno set.
// For a short transfer it instead lowers `*count` and returns false.
bool inject(Op op, std::size_t *count = nullptr);
#else
inline bool inject(Op, std::size_t * = nullptr) { return false; }
#endif

inline int open_input(const char *path, int flags) {
  return inject(Op::OPEN_INPUT) ? -1 : ::open(path, flags);
}

inline int open_output(const char *path, int flags, mode_t mode) {
  return inject(Op::OPEN_OUTPUT) ? -1 : ::open(path, flags, mode);
}

inline ssize_t read(int fd, void *buffer, std::size_t count) {
  return inject(Op::READ, &count) ? -1 : ::read(fd, buffer, count);
}

inline ssize_t write(int fd, const void *bytes, std::size_t count) {
  return inject(Op::WRITE, &count) ? -1 : ::write(fd, bytes, count);
}

inline int close(int fd) {
  if (inject(Op::CLOSE)) {
    int error = errno;
    ::close(fd); // a failed close(2) releases the descriptor all the same
    errno = error;
    return -1;
  }
  return ::close(fd);
}

inline off_t seek_end(int fd) {
  return inject(Op::SEEK) ? -1 : ::lseek(fd, 0, SEEK_END);
}

inline int lstat(const char *path, struct stat *st) {
  return inject(Op::EXISTS) ? -1 : ::lstat(path, st);
}

inline int truncate(int fd) {
  return inject(Op::TRUNCATE) ? -1 : ::ftruncate(fd, 0);
}

// Reserves space past the end of the file without changing its size, or
// gives back what was reserved past `size`.
inline int reserve(int fd, off_t offset, off_t length) {
  return inject(Op::RESERVE)
             ? -1
             : ::fallocate(fd, FALLOC_FL_KEEP_SIZE, offset, length);
}

inline int release_past(int fd, off_t size) { return ::ftruncate(fd, size); }

inline int open_terminal() {
  return inject(Op::TERMINAL)
             ? -1
             : ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
}

inline int get_mode(int fd, struct termios *mode) {
  return inject(Op::TERMINAL) ? -1 : ::tcgetattr(fd, mode);
}

inline int set_mode(int fd, const struct termios *mode) {
  return inject(Op::TERMINAL) ? -1 : ::tcsetattr(fd, TCSANOW, mode);
}

} // namespace platform::posix::sys

namespace platform {
namespace sys = posix::sys;
} // namespace platform
