// What the pieces of the Windows backend share among themselves.
#pragma once

#include "platform/platform.h"

#include <windows.h>

namespace platform::win32 {

// A File is a HANDLE; NO_FILE is INVALID_HANDLE_VALUE.
inline HANDLE handle_of(File file) { return reinterpret_cast<HANDLE>(file); }
inline File file_of(HANDLE handle) { return reinterpret_cast<File>(handle); }

// The failure of open_input for a directory, in the same range of our own
// codes as SAME_FILE_ERROR.
inline constexpr int DIRECTORY_ERROR = -1001;

inline bool is_console(HANDLE handle) {
  DWORD mode;
  return GetConsoleMode(handle, &mode) != 0;
}

// Waits until a read of `handle` would not block: at once for a disk file,
// until input is there for a console or a pipe. The console interrupt, if
// it arrives meanwhile, is handed to the main flow's handler, which ends
// the run.
void wait_for_input(HANDLE handle);

// Closes the file-selection dialog that `thread` shows, if any, as its
// Cancel button does. Called on the thread that the interrupt runs on.
void cancel_dialogs(DWORD thread);

// After a console read came back empty: the interrupt's handler thread may
// be on its way, so it is given a moment and then handled.
void settle_interrupt();

} // namespace platform::win32
