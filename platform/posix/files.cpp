// Input and output files on POSIX: open(2), read(2), write(2).
#include "platform/platform.h"
#include "platform/posix/posix_internal.h"
#include "platform/posix/syscalls.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

int fd_of(File file) { return static_cast<int>(file); }

bool same_file(int fd, File other) {
  struct stat a, b;
  if (other == NO_FILE || fstat(fd, &a) != 0 || fstat(fd_of(other), &b) != 0)
    return false;
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Whether reading the input may wait indefinitely (a pipe, a terminal, a
// socket). A regular file never keeps a read waiting, so it is read without
// first waiting for it, saving a system call per block.
int waiting_input_fd = -1;
int regular_input_fd = -1;

bool may_wait(int fd) {
  if (fd != waiting_input_fd && fd != regular_input_fd) {
    struct stat st;
    bool regular = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    (regular ? regular_input_fd : waiting_input_fd) = fd;
  }
  return fd == waiting_input_fd;
}

// Empties a file opened to be created over. Devices and pipes cannot be
// emptied and need not be.
bool empty_file(int fd) {
  int result;
  do
    result = sys::truncate(fd);
  while (result != 0 && errno == EINTR);
  struct stat st;
  return result == 0 || (fstat(fd, &st) == 0 && !S_ISREG(st.st_mode));
}

// Space for the output, reserved ahead of the writes. The blocks of whole
// records seldom end on a page boundary, and a file system that allocates
// space as data arrives makes such writes far dearer than aligned ones;
// with the space reserved ahead they cost no more. The file's size is not
// changed, and what is reserved past its end is given back when it is
// closed. Where reserving fails (a file system without it, a full disk),
// the writes go on without. The position of the next write is kept here
// rather than asked of the system before every write.
constexpr off_t RESERVE_STEP = off_t{4} << 20;
int reserving_fd = -1;
off_t write_at = 0;
off_t reserved_to = 0;

void start_reserving(int fd) {
  struct stat st;
  reserving_fd = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? fd : -1;
  write_at = 0; // just created or emptied, or moved by seek_to_end
  reserved_to = 0;
}

void reserve_ahead(int fd, std::size_t count) {
  if (fd != reserving_fd || write_at + static_cast<off_t>(count) <= reserved_to)
    return;
  reserved_to = std::max(reserved_to, write_at);
  if (sys::reserve(fd, reserved_to, RESERVE_STEP) != 0) {
    reserving_fd = -1;
    return;
  }
  reserved_to += RESERVE_STEP;
}

// Gives back the space reserved past the end of the file.
void release_reserve(int fd) {
  if (fd != reserving_fd)
    return;
  reserving_fd = -1;
  struct stat st;
  if (fstat(fd, &st) == 0)
    sys::release_past(fd, st.st_size);
}

int open_flags(Disposition how) {
  switch (how) {
  case Disposition::CREATE_NEW:
    return O_RDWR | O_CREAT | O_EXCL;
  case Disposition::OPEN_EXISTING:
    return O_RDWR;
  case Disposition::CREATE_ALWAYS:
    break;
  }
  // Emptied only after the check that it is not the guarded file.
  return O_RDWR | O_CREAT;
}

} // namespace

File open_input(const char *path) {
  int fd;
  do
    fd = sys::open_input(path, O_RDONLY | O_CLOEXEC);
  while (fd < 0 && errno == EINTR && (check_interrupt(), true));
  if (fd < 0)
    return NO_FILE;
  waiting_input_fd = regular_input_fd = -1; // the number may be reused
  struct stat st;
  if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    sys::close(fd);
    errno = EISDIR;
    return NO_FILE;
  }
  return fd;
}

long read_input(File file, void *buffer, std::size_t count) {
  for (;;) {
    if (may_wait(fd_of(file)))
      posix::wait_readable(fd_of(file));
    else
      check_interrupt();
    ssize_t n = sys::read(fd_of(file), buffer, count);
    if (n >= 0 || errno != EINTR)
      return static_cast<long>(n);
  }
}

File open_output_file(const char *path, Disposition how, File guard) {
  if (path == nullptr) {
    errno = ENOENT;
    return NO_FILE;
  }
  int fd;
  do
    fd = sys::open_output(path, open_flags(how) | O_CLOEXEC, 0666);
  while (fd < 0 && errno == EINTR);
  if (fd < 0)
    return NO_FILE;
  int error = 0;
  if (same_file(fd, guard))
    error = SAME_FILE_ERROR;
  else if (how == Disposition::CREATE_ALWAYS && !empty_file(fd))
    error = errno;
  if (error != 0) {
    sys::close(fd);
    errno = error;
    return NO_FILE;
  }
  start_reserving(fd);
  return fd;
}

bool seek_to_end(File file) {
  off_t end = sys::seek_end(fd_of(file));
  if (end < 0)
    return false;
  if (fd_of(file) == reserving_fd)
    write_at = end;
  return true;
}

bool write_all(File file, const void *bytes, std::size_t count) {
  const char *p = static_cast<const char *>(bytes);
  reserve_ahead(fd_of(file), count);
  while (count > 0) {
    ssize_t n = sys::write(fd_of(file), p, count);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0) {
      if (n == 0)
        errno = EIO;
      return false;
    }
    if (fd_of(file) == reserving_fd)
      write_at += n;
    p += n;
    count -= static_cast<std::size_t>(n);
  }
  return true;
}

bool close_file(File file) {
  // After an interrupted close(2) the descriptor is gone on Linux; a retry
  // could close a descriptor opened meanwhile, so it is not retried.
  release_reserve(fd_of(file));
  return sys::close(fd_of(file)) == 0 || errno == EINTR;
}

bool path_exists(const char *path) {
  struct stat st;
  // Only a path that is surely absent counts as absent: when the test
  // itself fails, the file may be there, and it is not emptied unasked.
  return sys::lstat(path, &st) == 0 || (errno != ENOENT && errno != ENOTDIR);
}

const char DIALOG_NAME_MARKS[] = "-";

void use_ansi_file_names() {}

} // namespace platform
