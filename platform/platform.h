// The platform layer: every service of the operating system that the tool
// and the output file module use, under our own names. Only the files
// below platform/ include operating system headers; each operating system
// has one backend that implements this interface.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// A native file: a descriptor on POSIX, a HANDLE on Windows.
using File = std::intptr_t;
inline constexpr File NO_FILE = -1;

// --- errors ---------------------------------------------------------------

// The code of the most recent failure of a platform call on this thread,
// and its text as the operating system words it.
int last_error();
const char *error_text(int error);

// --- process and standard streams -------------------------------------------

// Makes sure the three standard descriptors are open (a closed one is tied
// to the null device, so no file we open takes its place), and sets the
// buffering of standard output and standard error: unbuffered on a
// terminal, so every message shows when printed; fully buffered otherwise.
void setup_standard_streams();

// --- the console interrupt --------------------------------------------------

// Installs `handler` for the console interrupt (Ctrl-C). The signal itself
// only records that it came; the handler then runs in the main flow, at the
// next call of `check_interrupt` or as soon as a wait of this layer is woken
// by it. The installation is one-shot: from the moment the interrupt
// arrives, a second one ends the process by the default action. Returns
// false when the handler could not be installed.
bool install_interrupt_handler(void (*handler)(int signal_number));

// Runs the interrupt handler now if the interrupt has arrived.
void check_interrupt();

// Puts the terminal back in the mode it was found in, if this layer changed
// it. Safe to call at any time, also more than once.
void restore_console();

// --- files ------------------------------------------------------------------

// Opens an input file for reading, sharing it fully with other processes.
// A directory is not an input file. Returns NO_FILE on failure.
File open_input(const char *path);

// Reads up to `count` bytes. Returns the number read, 0 at the end of the
// input, -1 on a failure. While it waits for a slow input (a pipe, a
// terminal) the console interrupt is delivered.
long read_input(File file, void *buffer, std::size_t count);

// How an output file is opened.
enum class Disposition {
  CREATE_ALWAYS, // create, or empty an existing file
  OPEN_EXISTING, // open a file that exists
  CREATE_NEW,    // create, failing if the file exists
};

// Opens an output file for reading and writing, others allowed to read it.
// When `guard` is an open file and the path names that same file, the open
// fails (nothing is created, emptied or changed) and `last_error` then
// reports SAME_FILE_ERROR.
File open_output_file(const char *path, Disposition how, File guard);
inline constexpr int SAME_FILE_ERROR = -1000;

bool seek_to_end(File file);

// Writes all `count` bytes, going on after short writes and interrupted
// calls. Returns false on a failure.
bool write_all(File file, const void *bytes, std::size_t count);

bool close_file(File file);

// True when anything at all is at the path.
bool path_exists(const char *path);

// The characters that, standing first in an output name, ask for the
// file-selection dialog instead of naming a file: "-" where "/" begins an
// absolute path, "-" and "/" where it does not.
extern const char DIALOG_NAME_MARKS[];

// Switches the file services to names in the ANSI code page where the
// platform has code pages; elsewhere it does nothing.
void use_ansi_file_names();

// --- console input ----------------------------------------------------------

// Reads one key from the terminal itself (not from standard input): no echo,
// no waiting for Enter, the interrupt key read as an ordinary character (3).
// The rest of a key that sends several characters is read and dropped.
// Returns the key's first character, or -1 when there is no terminal.
int read_console_key();

// Reads one character from standard input through its buffering: the first
// call on a terminal waits for a whole line; characters left over are given
// to later calls at once. Returns -1 at the end of the input.
int read_standard_input_char();

// --- the file-selection dialog ----------------------------------------------

struct FileFilter {
  const char *label;   // "Data Files (*.OUT)"
  const char *pattern; // "*.OUT"
};

struct DialogSettings {
  const char *title;
  const FileFilter *filters;
  int filter_count;
  int first_filter; // counted from 1
};

enum class DialogResult { CHOSEN, CANCELLED, UNAVAILABLE };

// Lets the user pick or type a path. `path` (of `path_size` bytes) holds
// the initial name and receives the chosen path; `file_title` receives the
// last component of it. UNAVAILABLE when no dialog can be shown at all.
DialogResult choose_file(const DialogSettings &settings, char *path,
                         std::size_t path_size, char *file_title,
                         std::size_t title_size);

} // namespace platform
