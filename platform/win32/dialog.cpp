// The file-selection dialog on Windows: the common Open dialog.
#include "platform/platform.h"
#include "platform/win32/win32_internal.h"

#include <cstring>
#include <windows.h>

#include <commdlg.h>

namespace platform {

namespace {

bool append_part(char *list, std::size_t size, std::size_t *at,
                 const char *part) {
  std::size_t length = std::strlen(part) + 1;
  if (*at + length >= size)
    return false;
  std::memcpy(list + *at, part, length);
  *at += length;
  return true;
}

// The filters as the dialog takes them: label, NUL, pattern, NUL, for each
// filter, and one more NUL at the end. False when they do not fit.
bool filter_list(const DialogSettings &settings, char *list, std::size_t size) {
  std::size_t at = 0;
  for (int i = 0; i < settings.filter_count; ++i)
    if (!append_part(list, size, &at, settings.filters[i].label) ||
        !append_part(list, size, &at, settings.filters[i].pattern))
      return false;
  list[at] = '\0';
  return true;
}

// Whether this process can show a window at all: not where it has no
// desktop to draw on (no display under wine), where the dialog would come
// back at once as though the user had cancelled it, again and again.
bool can_show_windows() {
  HWND probe = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 0, 0, nullptr,
                               nullptr, GetModuleHandleA(nullptr), nullptr);
  if (probe == nullptr)
    return false;
  DestroyWindow(probe);
  return true;
}

BOOL CALLBACK cancel_if_dialog(HWND window, LPARAM) {
  char kind[16];
  if (GetClassNameA(window, kind, sizeof kind) > 0 &&
      std::strcmp(kind, "#32770") == 0)
    PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
  return TRUE;
}

} // namespace

namespace win32 {

void cancel_dialogs(DWORD thread) {
  EnumThreadWindows(thread, cancel_if_dialog, 0);
}

} // namespace win32

DialogResult choose_file(const DialogSettings &settings, char *path,
                         std::size_t path_size, char *file_title,
                         std::size_t title_size) {
  static const bool available = can_show_windows();
  char filters[512];
  if (!available || !filter_list(settings, filters, sizeof filters))
    return DialogResult::UNAVAILABLE;
  OPENFILENAMEA dialog = {};
  dialog.lStructSize = sizeof dialog;
  dialog.lpstrFilter = filters;
  dialog.nFilterIndex = static_cast<DWORD>(settings.first_filter);
  dialog.lpstrFile = path;
  dialog.nMaxFile = static_cast<DWORD>(path_size);
  dialog.lpstrFileTitle = file_title;
  dialog.nMaxFileTitle = static_cast<DWORD>(title_size);
  dialog.lpstrTitle = settings.title;
  dialog.Flags = 0;
  check_interrupt();
  BOOL chosen = GetOpenFileNameA(&dialog);
  check_interrupt(); // the interrupt closed the dialog
  if (chosen)
    return DialogResult::CHOSEN;
  // No extended error: the user closed the dialog without a choice.
  return CommDlgExtendedError() == 0 ? DialogResult::CANCELLED
                                     : DialogResult::UNAVAILABLE;
}

} // namespace platform
