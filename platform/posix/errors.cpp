// Errors on POSIX: errno and strerror.
#include "platform/platform.h"

#include <cerrno>
#include <cstring>

namespace platform {

int last_error() { return errno; }

const char *error_text(int error) {
  if (error == SAME_FILE_ERROR)
    return "the output file is the input file";
  return std::strerror(error);
}

} // namespace platform
