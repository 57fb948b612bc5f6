// What the pieces of the POSIX backend share among themselves.
#pragma once

namespace platform::posix {

// Waits until `fd` can be read (or reports an error or hang-up that the
// read will show). The console interrupt, if it arrives meanwhile, is
// handed to the main flow's handler, which ends the run.
void wait_readable(int fd);

// The controlling terminal, opened once for the whole process; -1 when the
// process has none.
int terminal_fd();

// Remembers the terminal's mode before this layer changes it, so that
// restore_console() can put it back from any path out.
void save_terminal_mode();

} // namespace platform::posix
