// The console on Windows: standard streams, the interrupt (SIGINT through
// the C runtime), the console itself (CONIN$) for single keys, and standard
// input.
#include "platform/platform.h"
#include "platform/win32/win32_internal.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <windows.h>

namespace platform {

namespace {

using win32::is_console;

// --- interrupt: the signal only records and wakes; the main flow acts ---

// The C runtime runs a SIGINT handler on a thread of its own, started for
// the console's Ctrl-C event, while the main thread goes on. So the handler
// only records the arrival and wakes the main thread's waits.
volatile LONG interrupt_arrived = 0;
HANDLE wake_event = nullptr; // manual reset, set by the handler
DWORD main_thread = 0;
void (*interrupt_handler)(int) = nullptr;

extern "C" void on_interrupt(int) {
  std::signal(SIGINT, SIG_DFL); // a second Ctrl-C ends the process
  InterlockedExchange(&interrupt_arrived, 1);
  if (wake_event != nullptr)
    SetEvent(wake_event);
  win32::cancel_dialogs(main_thread);
}

// Waits up to `milliseconds` for the interrupt, then handles it if it came.
void wait_for_interrupt(DWORD milliseconds) {
  if (wake_event == nullptr)
    Sleep(milliseconds);
  else if (WaitForSingleObject(wake_event, milliseconds) == WAIT_OBJECT_0)
    ResetEvent(wake_event); // before the flag is read: no arrival is lost
  check_interrupt();
}

// A console handle is signalled while input events wait in its buffer.
void wait_for_console(HANDLE console) {
  for (;;) {
    check_interrupt();
    HANDLE both[2] = {console, wake_event};
    DWORD count = wake_event != nullptr ? 2 : 1;
    DWORD woken = WaitForMultipleObjects(count, both, FALSE, INFINITE);
    if (woken != WAIT_OBJECT_0 + 1)
      return; // input is there, or a failure that the read reports
    ResetEvent(wake_event);
  }
}

// An anonymous pipe handle cannot be waited on, so its content is looked
// at between short waits for the interrupt.
void wait_for_pipe(HANDLE pipe) {
  for (DWORD slice = 1;; slice = slice < 50 ? slice * 2 : 50) {
    check_interrupt();
    DWORD available = 0;
    if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) ||
        available > 0)
      return; // data, the end of the pipe, or a failure the read reports
    wait_for_interrupt(slice);
  }
}

// --- the console ---

HANDLE console_input() {
  // Standard input may be redirected; CONIN$ is always the console's own.
  static HANDLE conin =
      CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE,
                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                  FILE_ATTRIBUTE_NORMAL, nullptr);
  return conin;
}

DWORD found_mode = 0;
bool mode_saved = false;

bool is_modifier(WORD virtual_key) {
  switch (virtual_key) {
  case VK_SHIFT:
  case VK_CONTROL:
  case VK_MENU:
  case VK_CAPITAL:
  case VK_NUMLOCK:
  case VK_SCROLL:
  case VK_LWIN:
  case VK_RWIN:
    return true;
  default:
    return false;
  }
}

// The key a console input event stands for: a character, or 0 for a key
// without one (an arrow or function key). Key releases, modifier keys on
// their own, mouse and window events stand for none.
bool key_of(const INPUT_RECORD &event, int *key) {
  if (event.EventType != KEY_EVENT || !event.Event.KeyEvent.bKeyDown)
    return false;
  char c = event.Event.KeyEvent.uChar.AsciiChar;
  if (c == 0 && is_modifier(event.Event.KeyEvent.wVirtualKeyCode))
    return false;
  *key = static_cast<unsigned char>(c);
  return true;
}

int next_key(HANDLE console) {
  for (;;) {
    wait_for_console(console);
    INPUT_RECORD event;
    DWORD count = 0;
    if (!ReadConsoleInputA(console, &event, 1, &count))
      return -1;
    int key;
    if (count == 1 && key_of(event, &key))
      return key;
  }
}

// stdin's own buffer for the Enter wait: one read takes a whole line from
// the console, and the characters after the first are given out later.
char input_chars[4096];
long input_next = 0;
long input_end = 0;

long fill_input_chars() {
  HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  if (in == nullptr || in == INVALID_HANDLE_VALUE)
    return -1;
  win32::wait_for_input(in);
  DWORD count = 0;
  if (ReadFile(in, input_chars, sizeof input_chars, &count, nullptr) &&
      count > 0)
    return static_cast<long>(count);
  if (is_console(in))
    win32::settle_interrupt();
  return -1; // the end of the input, a broken pipe or a failure
}

bool is_console_stream(DWORD which) {
  HANDLE handle = GetStdHandle(which);
  return handle != nullptr && handle != INVALID_HANDLE_VALUE &&
         GetFileType(handle) == FILE_TYPE_CHAR && is_console(handle);
}

} // namespace

namespace win32 {

void wait_for_input(HANDLE handle) {
  switch (GetFileType(handle)) {
  case FILE_TYPE_PIPE:
    wait_for_pipe(handle);
    break;
  case FILE_TYPE_CHAR:
    if (is_console(handle))
      wait_for_console(handle);
    break;
  default: // a disk file does not keep a read waiting
    break;
  }
  check_interrupt();
}

void settle_interrupt() {
  // A Ctrl-C ends a console read with nothing read before the C runtime's
  // thread has run the signal handler.
  wait_for_interrupt(200);
}

} // namespace win32

void setup_standard_streams() {
  // A file this layer opens is a handle and never takes the place of a
  // closed standard stream, so a missing one needs no stand-in here.
  // Standard output and error stay in text mode, as for every program on
  // this platform: a line of a message ends in CR LF.
  std::setvbuf(stdout, nullptr,
               is_console_stream(STD_OUTPUT_HANDLE) ? _IONBF : _IOFBF, BUFSIZ);
  std::setvbuf(stderr, nullptr,
               is_console_stream(STD_ERROR_HANDLE) ? _IONBF : _IOFBF, BUFSIZ);
}

bool install_interrupt_handler(void (*handler)(int)) {
  interrupt_handler = handler;
  main_thread = GetCurrentThreadId();
  if (wake_event == nullptr)
    wake_event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (wake_event == nullptr)
    return false;
  return std::signal(SIGINT, on_interrupt) != SIG_ERR;
}

void check_interrupt() {
  if (!interrupt_arrived)
    return;
  InterlockedExchange(&interrupt_arrived, 0);
  void (*handler)(int) = interrupt_handler;
  interrupt_handler = nullptr;
  if (handler != nullptr)
    handler(SIGINT);
}

void restore_console() {
  if (mode_saved)
    SetConsoleMode(console_input(), found_mode);
}

int read_console_key() {
  HANDLE console = console_input();
  DWORD before;
  if (console == INVALID_HANDLE_VALUE || !GetConsoleMode(console, &before))
    return -1;
  if (!mode_saved) {
    found_mode = before;
    mode_saved = true;
    // Every end of the process puts the mode back.
    std::atexit(restore_console);
  }
  // No line input, no echo, and Ctrl-C read as the character 3.
  if (!SetConsoleMode(console, 0))
    return -1;
  int key = next_key(console);
  SetConsoleMode(console, before);
  return key;
}

int read_standard_input_char() {
  if (input_next < input_end)
    return static_cast<unsigned char>(input_chars[input_next++]);
  long count = fill_input_chars();
  if (count <= 0)
    return -1;
  input_next = 1;
  input_end = count;
  return static_cast<unsigned char>(input_chars[0]);
}

} // namespace platform
