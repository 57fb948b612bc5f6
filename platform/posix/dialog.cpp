// The file-selection dialog on POSIX: a prompt on the controlling terminal,
// so it works while standard output and standard error are redirected.
// With GNU readline the prompt is pre-filled and editable, Tab completes
// paths (directories, and the files that match the active filter), and
// Ctrl-T switches the filter. Without readline it is a plain line prompt.
#include "platform/platform.h"
#include "platform/posix/posix_internal.h"
#include "platform/posix/syscalls.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fnmatch.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#ifdef KOBRAT_HAVE_READLINE
#include <readline/readline.h>
#include <readline/tilde.h>
#endif

namespace platform {

namespace {

struct Dialog {
  const DialogSettings *settings = nullptr;
  int filter = 0; // index into settings->filters
  const char *initial = "";
  FILE *screen = nullptr;
};
Dialog dialog;

void show_filters() {
  std::fprintf(dialog.screen, "Files of type:");
  for (int i = 0; i < dialog.settings->filter_count; ++i)
    std::fprintf(dialog.screen, "  %c %s", i == dialog.filter ? '*' : ' ',
                 dialog.settings->filters[i].label);
  std::fprintf(dialog.screen, "\n");
}

void show_header(const char *keys) {
  std::fprintf(dialog.screen, "\n%s\n", dialog.settings->title);
  show_filters();
  std::fprintf(dialog.screen, "%s\n", keys);
}

// Copies a typed name into the caller's buffers; false when it does not fit.
bool take_name(const char *line, char *path, std::size_t path_size, char *title,
               std::size_t title_size) {
  std::size_t length = std::strlen(line);
  if (length >= path_size) {
    std::fprintf(dialog.screen,
                 "The name is too long (at most %zu "
                 "characters).\n",
                 path_size - 1);
    return false;
  }
  std::memcpy(path, line, length + 1);
  const char *base = std::strrchr(path, '/');
  base = base != nullptr ? base + 1 : path;
  std::snprintf(title, title_size, "%s", base);
  return true;
}

#ifdef KOBRAT_HAVE_READLINE

// Filters match the way Windows matches them: without regard to case, and
// "*.*" matches every name, with or without a dot.
bool matches_filter(const char *name) {
  const char *pattern = dialog.settings->filters[dialog.filter].pattern;
  const char *base = std::strrchr(name, '/');
  base = base != nullptr ? base + 1 : name;
  return std::strcmp(pattern, "*.*") == 0 ||
         fnmatch(pattern, base, FNM_CASEFOLD) == 0;
}

const char KEYS[] = "Tab completes, Ctrl-T switches the file type, Enter "
                    "takes the name, Ctrl-D on an empty line cancels.";

int read_terminal_char(FILE *) {
  int fd = posix::terminal_fd();
  unsigned char c;
  for (;;) {
    posix::wait_readable(fd);
    ssize_t n = sys::read(fd, &c, 1);
    if (n == 1)
      return c;
    if (n == 0 || errno != EINTR)
      return EOF;
  }
}

int prefill() {
  rl_insert_text(dialog.initial);
  return 0;
}

int switch_filter(int, int) {
  dialog.filter = (dialog.filter + 1) % dialog.settings->filter_count;
  std::fprintf(dialog.screen, "\n");
  show_filters();
  rl_on_new_line();
  rl_redisplay();
  return 0;
}

bool is_directory(const char *name) {
  char *expanded = tilde_expand(name);
  struct stat st;
  bool directory = stat(expanded, &st) == 0 && S_ISDIR(st.st_mode);
  std::free(expanded);
  return directory;
}

char *complete_path(const char *text, int state) {
  // A completed file name is the whole answer: readline would add a space
  // after it, which Enter then takes as part of the name. (Readline resets
  // this before each completion; a folder still gets its '/'.)
  rl_completion_suppress_append = 1;
  for (int inner = state;; inner = 1) {
    char *name = rl_filename_completion_function(text, inner);
    if (name == nullptr || is_directory(name) || matches_filter(name))
      return name;
    std::free(name);
  }
}

void setup_readline(FILE *terminal) {
  rl_readline_name = "kobrat";
  rl_instream = terminal;
  rl_outstream = terminal;
  // The tool's own interrupt handling stays in force in the dialog.
  rl_catch_signals = 0;
  rl_catch_sigwinch = 0;
  rl_getc_function = read_terminal_char;
  rl_startup_hook = prefill;
  rl_completion_entry_function = complete_path;
  rl_attempted_completion_function = nullptr;
  rl_bind_key('T' & 0x1f, switch_filter);
}

// One line from the user: nullptr when cancelled.
char *ask_line() {
  char *line = readline("File name: ");
  if (line == nullptr)
    std::fprintf(dialog.screen, "\n");
  return line;
}

#else // a plain line prompt

const char KEYS[] = "Enter takes the name, Ctrl-D cancels.";

void setup_readline(FILE *) {}

char *ask_line() {
  if (dialog.initial[0] != '\0')
    std::fprintf(dialog.screen, "File name [%s]: ", dialog.initial);
  else
    std::fprintf(dialog.screen, "File name: ");
  std::fflush(dialog.screen);
  std::string line;
  int fd = posix::terminal_fd();
  for (;;) {
    char c;
    posix::wait_readable(fd);
    ssize_t n = sys::read(fd, &c, 1);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0) {
      if (!line.empty())
        break;
      std::fprintf(dialog.screen, "\n");
      return nullptr;
    }
    if (c == '\n')
      break;
    line += c;
  }
  if (line.empty())
    line = dialog.initial;
  return strdup(line.c_str());
}

#endif

} // namespace

DialogResult choose_file(const DialogSettings &settings, char *path,
                         std::size_t path_size, char *file_title,
                         std::size_t title_size) {
  int fd = posix::terminal_fd();
  if (fd < 0)
    return DialogResult::UNAVAILABLE;
  static FILE *terminal = fdopen(dup(fd), "r+");
  if (terminal == nullptr)
    return DialogResult::UNAVAILABLE;
  posix::save_terminal_mode();
  std::setvbuf(terminal, nullptr, _IONBF, 0);
  std::string initial = path;
  dialog.settings = &settings;
  dialog.initial = initial.c_str();
  dialog.screen = terminal;
  dialog.filter = settings.first_filter - 1;
  setup_readline(terminal);
  show_header(KEYS);
  for (;;) {
    char *line = ask_line();
    if (line == nullptr)
      return DialogResult::CANCELLED;
    bool taken = line[0] != '\0' &&
                 take_name(line, path, path_size, file_title, title_size);
    std::free(line);
    if (taken)
      return DialogResult::CHOSEN;
  }
}

} // namespace platform
