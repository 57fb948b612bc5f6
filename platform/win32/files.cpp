// Input and output files on Windows: CreateFileA, ReadFile, WriteFile.
#include "platform/platform.h"

namespace {

// <windows.h> defines the names of the dispositions as macros of its own
// (the values CreateFileA takes), so they are given other names first.
constexpr platform::Disposition REPLACE = platform::Disposition::CREATE_ALWAYS;
constexpr platform::Disposition EXISTING = platform::Disposition::OPEN_EXISTING;
constexpr platform::Disposition NEW_ONLY = platform::Disposition::CREATE_NEW;

} // namespace

#include "platform/win32/win32_internal.h"

#include <windows.h>

namespace platform {

namespace {

using win32::file_of;
using win32::handle_of;

bool same_file(HANDLE handle, File other) {
  BY_HANDLE_FILE_INFORMATION a, b;
  if (other == NO_FILE || !GetFileInformationByHandle(handle, &a) ||
      !GetFileInformationByHandle(handle_of(other), &b))
    return false;
  return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
         a.nFileIndexHigh == b.nFileIndexHigh &&
         a.nFileIndexLow == b.nFileIndexLow;
}

DWORD creation_of(Disposition how) {
  if (how == NEW_ONLY)
    return CREATE_NEW;
  if (how == EXISTING)
    return OPEN_EXISTING;
  // Emptied only after the check that it is not the guarded file.
  return OPEN_ALWAYS;
}

// Empties a file opened for overwriting. Devices and pipes cannot be
// emptied and need not be.
bool empty_file(HANDLE handle) {
  if (GetFileType(handle) != FILE_TYPE_DISK)
    return true;
  return SetFilePointer(handle, 0, nullptr, FILE_BEGIN) == 0 &&
         SetEndOfFile(handle);
}

void close_keeping_error(HANDLE handle, DWORD error) {
  CloseHandle(handle);
  SetLastError(error);
}

// Whether reading the input may wait indefinitely (a pipe, a console). A
// disk file never keeps a read waiting, so it is read without first
// waiting for it, saving a system call per block.
HANDLE waiting_input = INVALID_HANDLE_VALUE;
HANDLE disk_input = INVALID_HANDLE_VALUE;

bool may_wait(HANDLE handle) {
  if (handle != waiting_input && handle != disk_input)
    (GetFileType(handle) == FILE_TYPE_DISK ? disk_input : waiting_input) =
        handle;
  return handle == waiting_input;
}

bool is_directory(const char *path) {
  DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

} // namespace

File open_input(const char *path) {
  HANDLE handle =
      CreateFileA(path, GENERIC_READ,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  // A directory cannot be opened this way; the failure says "access
  // denied", which would hide the reason.
  if (handle == INVALID_HANDLE_VALUE && is_directory(path))
    SetLastError(static_cast<DWORD>(win32::DIRECTORY_ERROR));
  waiting_input = disk_input = INVALID_HANDLE_VALUE; // a value may be reused
  return file_of(handle);
}

long read_input(File file, void *buffer, std::size_t count) {
  HANDLE handle = handle_of(file);
  if (may_wait(handle))
    win32::wait_for_input(handle);
  else
    check_interrupt();
  DWORD wanted = count < 0x40000000 ? static_cast<DWORD>(count) : 0x40000000;
  DWORD got = 0;
  if (!ReadFile(handle, buffer, wanted, &got, nullptr))
    return GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1;
  if (got == 0 && win32::is_console(handle))
    win32::settle_interrupt(); // Ctrl-C at a console read
  return static_cast<long>(got);
}

File open_output_file(const char *path, Disposition how, File guard) {
  if (path == nullptr) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return NO_FILE;
  }
  HANDLE handle =
      CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                  creation_of(how), FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE)
    return NO_FILE;
  if (same_file(handle, guard)) {
    close_keeping_error(handle, static_cast<DWORD>(SAME_FILE_ERROR));
    return NO_FILE;
  }
  if (how == REPLACE && !empty_file(handle)) {
    close_keeping_error(handle, GetLastError());
    return NO_FILE;
  }
  return file_of(handle);
}

bool seek_to_end(File file) {
  // With the high part given, files past 4 GiB work as well; the low part
  // alone cannot tell a failure from a position, the error code can.
  LONG high = 0;
  SetLastError(NO_ERROR);
  DWORD low = SetFilePointer(handle_of(file), 0, &high, FILE_END);
  return low != INVALID_SET_FILE_POINTER || GetLastError() == NO_ERROR;
}

bool write_all(File file, const void *bytes, std::size_t count) {
  const char *p = static_cast<const char *>(bytes);
  while (count > 0) {
    DWORD chunk = count < 0x40000000 ? static_cast<DWORD>(count) : 0x40000000;
    DWORD written = 0;
    if (!WriteFile(handle_of(file), p, chunk, &written, nullptr))
      return false;
    if (written == 0) {
      SetLastError(ERROR_WRITE_FAULT);
      return false;
    }
    p += written;
    count -= written;
  }
  return true;
}

bool close_file(File file) { return CloseHandle(handle_of(file)) != 0; }

bool path_exists(const char *path) {
  if (GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES)
    return true;
  // Only a path that is surely absent counts as absent: when the test
  // itself fails, the file may be there, and it is not emptied unasked.
  DWORD error = GetLastError();
  return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND &&
         error != ERROR_INVALID_NAME;
}

// '/' marks options on this platform, so a name that begins with it asks
// for the dialog as '-' does.
const char DIALOG_NAME_MARKS[] = "-/";

void use_ansi_file_names() { SetFileApisToANSI(); }

} // namespace platform
