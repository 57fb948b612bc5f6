// Errors on Windows: GetLastError and the system's message for it.
#include "platform/platform.h"
#include "platform/win32/win32_internal.h"

#include <cstdio>
#include <cstring>
#include <windows.h>

namespace platform {

namespace {

char message[512];

// The system's messages end in CR LF (some in a space as well).
void drop_line_end(char *text) {
  std::size_t length = std::strlen(text);
  while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n' ||
                        text[length - 1] == ' '))
    text[--length] = '\0';
}

} // namespace

int last_error() { return static_cast<int>(GetLastError()); }

const char *error_text(int error) {
  if (error == SAME_FILE_ERROR)
    return "the output file is the input file";
  if (error == win32::DIRECTORY_ERROR)
    return "The name is a directory, not a file.";
  DWORD length = FormatMessageA(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      static_cast<DWORD>(error), 0, message, sizeof message, nullptr);
  if (length == 0)
    std::snprintf(message, sizeof message, "system error %lu",
                  static_cast<unsigned long>(static_cast<DWORD>(error)));
  drop_line_end(message);
  return message;
}

} // namespace platform
