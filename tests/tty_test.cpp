// The parts of kobrat that talk to a terminal, through the real binary on
// a pseudo-terminal: the file-selection dialog, the question about an
// existing output file, the Enter wait between open attempts, and Ctrl-C
// at each of those moments and during a conversion. After every run the
// terminal must be in the mode it was in before, with nothing typed left
// unread.
#include "harness.h"
#include "pty.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

using kt::milliseconds;

const char TITLE[] = "Output File Selection";
const char PROMPT[] = "File name: ";
const char ALL_FILES_ACTIVE[] =
    "Files of type:  * All Files (*.*)    Data Files (*.OUT)";
const char DATA_FILES_ACTIVE[] =
    "Files of type:    All Files (*.*)  * Data Files (*.OUT)";
const char QUESTION_END[] = "Enter a Y, Q, or A ";
const char ENTER_WAIT[] = "hit return to choose new output file";

const char INPUT[] = "alpha\nbeta\r\n\ngamma";
const std::string RECORDS = kt::record("alpha") + kt::record("beta") +
                            kt::record("") + kt::record("gamma");
const std::string OLD_CONTENT = kt::record("kept from before");

// The existing-file question reads its key raw: no canonical input and no
// signal keys, which the dialog's line editor leaves on.
bool reading_raw_key(const termios &mode) {
  return (mode.c_lflag & (ICANON | ISIG)) == 0;
}

int count_of(const std::string &text, const std::string &part) {
  int count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos;
       at = text.find(part, at + part.size()))
    ++count;
  return count;
}

std::vector<std::string> folder_listing(const std::string &folder) {
  std::vector<std::string> names;
  for (const auto &entry : std::filesystem::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

class TtyTest : public ::testing::Test {
protected:
  void SetUp() override { kt::write_file(dir.path("in.txt"), INPUT); }

  kt::PtyOptions in_dir() const {
    kt::PtyOptions options;
    options.cwd = dir.root;
    return options;
  }

  // The end of every run: the status, then the terminal as it was found,
  // with no part of a key left for whoever reads the terminal next.
  void expect_end(kt::Pty &pty, int status) {
    EXPECT_EQ(pty.wait_exit(), status) << "the screen shows:\n"
                                       << kt::printable(pty.screen());
    EXPECT_EQ(pty.mode_change(), "");
    EXPECT_EQ(kt::printable(pty.unread_input()), "");
  }

  // Types a name into the dialog once it asks for one.
  bool choose(kt::Pty &pty, const std::string &name) {
    if (!pty.expect(PROMPT))
      return false;
    pty.send(name + "\r");
    return true;
  }

  kt::TempDir dir;
};

// --- the dialog ---------------------------------------------------------

TEST_F(TtyTest, TypedNameReceivesTheRecords) {
  std::filesystem::create_directory(dir.path("sub"));
  kt::Pty pty({"in.txt", "-"}, in_dir());
  ASSERT_TRUE(pty.expect(TITLE));
  ASSERT_TRUE(choose(pty, "sub/out.txt"));
  expect_end(pty, 1);
  EXPECT_EQ(kt::read_file(dir.path("sub/out.txt")), RECORDS);
  EXPECT_EQ(count_of(pty.screen(), TITLE), 1);
}

TEST_F(TtyTest, CtrlTMovesTheMarkAndCompletionFollowsTheFilter) {
  kt::write_file(dir.path("kept.out"), OLD_CONTENT);
  kt::write_file(dir.path("kept.txt"), OLD_CONTENT);
  kt::Pty pty({"in.txt", "-"}, in_dir());
  ASSERT_TRUE(pty.expect(TITLE));
  ASSERT_TRUE(pty.expect(ALL_FILES_ACTIVE));
  ASSERT_TRUE(pty.expect(PROMPT));
  pty.send("\x14");
  ASSERT_TRUE(pty.expect(DATA_FILES_ACTIVE));
  pty.send("\x14");
  ASSERT_TRUE(pty.expect(ALL_FILES_ACTIVE));
  pty.send("\x14");
  ASSERT_TRUE(pty.expect(DATA_FILES_ACTIVE));
  // Of kept.out and kept.txt only the first matches *.OUT (case aside), so
  // Tab completes the name to it; Enter then takes exactly that file.
  pty.send("kep\t");
  ASSERT_TRUE(pty.expect("kept.out"));
  pty.send("\r");
  ASSERT_TRUE(pty.expect("kept.out aleady exists"));
  ASSERT_TRUE(
      pty.wait_for_mode(reading_raw_key, "the terminal reads a raw key"));
  pty.send("y");
  expect_end(pty, 1);
  EXPECT_EQ(kt::read_file(dir.path("kept.out")), RECORDS);
  EXPECT_EQ(kt::read_file(dir.path("kept.txt")), OLD_CONTENT);
  EXPECT_EQ(folder_listing(dir.root),
            (std::vector<std::string>{"in.txt", "kept.out", "kept.txt"}));
}

struct EmptyAnswerCase {
  const char *name;
  const char *key;
  int titles; // how often the whole dialog was shown in all
};

void PrintTo(const EmptyAnswerCase &c, std::ostream *os) { *os << c.name; }

class EmptyAnswerTest : public TtyTest,
                        public ::testing::WithParamInterface<EmptyAnswerCase> {
};

// Ctrl-D on the empty line cancels: the dialog is shown again from the
// top. An empty line only asks for the name again.
TEST_P(EmptyAnswerTest, DialogAsksAgain) {
  const EmptyAnswerCase &c = GetParam();
  kt::Pty pty({"in.txt", "-"}, in_dir());
  ASSERT_TRUE(pty.expect(PROMPT));
  pty.send(c.key);
  ASSERT_TRUE(choose(pty, "out.txt")); // at the second prompt
  expect_end(pty, 1);
  EXPECT_EQ(kt::read_file(dir.path("out.txt")), RECORDS);
  EXPECT_EQ(count_of(pty.screen(), TITLE), c.titles);
  EXPECT_EQ(count_of(pty.screen(), PROMPT), 2);
}

INSTANTIATE_TEST_SUITE_P(Keys, EmptyAnswerTest,
                         ::testing::Values(EmptyAnswerCase{"CtrlD", "\x04", 2},
                                           EmptyAnswerCase{"Enter", "\r", 1}),
                         [](const auto &info) {
                           return std::string(info.param.name);
                         });

// --- a failed open: the Enter wait, and the second dialog ----------------

struct RetryCase {
  const char *name;
  bool make_folder; // whether the missing folder exists by the second try
  int status;
};

void PrintTo(const RetryCase &c, std::ostream *os) { *os << c.name; }

class RetryTest : public TtyTest,
                  public ::testing::WithParamInterface<RetryCase> {};

// The first name is in a folder that does not exist. After Enter the second
// dialog starts from that name, so Enter alone tries it again.
TEST_P(RetryTest, SecondDialogStartsFromTheFailedName) {
  const RetryCase &c = GetParam();
  kt::Pty pty({"in.txt", "-"}, in_dir());
  ASSERT_TRUE(choose(pty, "sub/out.txt"));
  ASSERT_TRUE(pty.expect("error opening output file sub/out.txt"));
  ASSERT_TRUE(pty.expect("reason: No such file or directory"));
  ASSERT_TRUE(pty.expect(ENTER_WAIT));
  // The second dialog waits for Enter.
  EXPECT_FALSE(pty.appears(TITLE, milliseconds(200)));
  if (c.make_folder)
    std::filesystem::create_directory(dir.path("sub"));
  pty.send("\r");
  ASSERT_TRUE(pty.expect(TITLE));
  ASSERT_TRUE(pty.expect(std::string(PROMPT) + "sub/out.txt"));
  pty.send("\r");
  if (!c.make_folder) {
    EXPECT_TRUE(pty.expect("reason: No such file or directory"));
    EXPECT_TRUE(pty.expect("error opening output file sub/out.txt"));
  }
  expect_end(pty, c.status);
  if (c.make_folder)
    EXPECT_EQ(kt::read_file(dir.path("sub/out.txt")), RECORDS);
  else
    EXPECT_FALSE(kt::file_exists(dir.path("sub")));
  EXPECT_EQ(count_of(pty.screen(), ENTER_WAIT), 1);
}

INSTANTIATE_TEST_SUITE_P(Attempts, RetryTest,
                         ::testing::Values(RetryCase{"SecondSucceeds", true, 1},
                                           RetryCase{"BothFail", false, 4}),
                         [](const auto &info) {
                           return std::string(info.param.name);
                         });

// --- the existing-file question -----------------------------------------

enum class Outcome { OVERWRITTEN, APPENDED, UNTOUCHED };

struct KeyCase {
  const char *name;
  const char *keys; // what the key sends
  int status;
  Outcome outcome;
};

void PrintTo(const KeyCase &c, std::ostream *os) { *os << c.name; }

class QuestionKeyTest : public TtyTest,
                        public ::testing::WithParamInterface<KeyCase> {};

TEST_P(QuestionKeyTest, KeyDecides) {
  const KeyCase &c = GetParam();
  kt::write_file(dir.path("out.txt"), OLD_CONTENT);
  kt::Pty pty({"in.txt", "-"}, in_dir());
  ASSERT_TRUE(choose(pty, "out.txt"));
  ASSERT_TRUE(pty.expect("out.txt aleady exists"));
  ASSERT_TRUE(pty.expect(QUESTION_END));
  ASSERT_TRUE(
      pty.wait_for_mode(reading_raw_key, "the terminal reads a raw key"));
  pty.send(c.keys);
  expect_end(pty, c.status);
  std::string content = kt::read_file(dir.path("out.txt"));
  switch (c.outcome) {
  case Outcome::OVERWRITTEN:
    EXPECT_EQ(content, RECORDS);
    break;
  case Outcome::APPENDED:
    EXPECT_EQ(content, OLD_CONTENT + RECORDS);
    break;
  case Outcome::UNTOUCHED:
    EXPECT_EQ(content, OLD_CONTENT);
    break;
  }
  // The key is read without echo, and nothing of a longer key shows later.
  std::string after = pty.screen().substr(pty.screen().rfind(QUESTION_END) +
                                          std::strlen(QUESTION_END));
  EXPECT_EQ(after.find_first_not_of("\r\n"), std::string::npos)
      << kt::printable(after);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, QuestionKeyTest,
    ::testing::Values(KeyCase{"Y", "Y", 1, Outcome::OVERWRITTEN},
                      KeyCase{"y", "y", 1, Outcome::OVERWRITTEN},
                      KeyCase{"O", "O", 1, Outcome::OVERWRITTEN},
                      KeyCase{"o", "o", 1, Outcome::OVERWRITTEN},
                      KeyCase{"A", "A", 1, Outcome::APPENDED},
                      KeyCase{"a", "a", 1, Outcome::APPENDED},
                      KeyCase{"N", "N", 4, Outcome::UNTOUCHED},
                      KeyCase{"n", "n", 4, Outcome::UNTOUCHED},
                      KeyCase{"Q", "Q", 4, Outcome::UNTOUCHED},
                      KeyCase{"q", "q", 4, Outcome::UNTOUCHED},
                      KeyCase{"Enter", "\r", 1, Outcome::OVERWRITTEN},
                      KeyCase{"Escape", "\x1b", 1, Outcome::OVERWRITTEN},
                      KeyCase{"ArrowUp", "\x1b[A", 1, Outcome::OVERWRITTEN},
                      KeyCase{"CtrlC", "\x03", 2, Outcome::UNTOUCHED}),
    [](const auto &info) { return std::string(info.param.name); });

// The arrow key answers a question about a folder: the overwrite fails,
// the Enter wait is served from standard input (a file), and the next
// reader of the terminal is the second dialog. The rest of the arrow's
// sequence must not reach it.
TEST_F(TtyTest, RestOfAnArrowKeyDoesNotReachTheNextDialog) {
  std::filesystem::create_directory(dir.path("folder"));
  kt::TempDir io;
  kt::write_file(io.path("stdin"), "\n");
  kt::PtyOptions options = in_dir();
  options.stdin_path = io.path("stdin");
  kt::Pty pty({"in.txt", "-"}, options);
  ASSERT_TRUE(choose(pty, "folder"));
  ASSERT_TRUE(pty.expect(QUESTION_END));
  ASSERT_TRUE(
      pty.wait_for_mode(reading_raw_key, "the terminal reads a raw key"));
  pty.send("\x1b[A");
  ASSERT_TRUE(pty.expect("error opening output file folder"));
  ASSERT_TRUE(pty.expect(ENTER_WAIT));
  ASSERT_TRUE(pty.expect(std::string(PROMPT) + "folder"));
  // Ctrl-U empties the line; a leaked "[A" would have been read before it.
  pty.send("\x15out.txt\r");
  expect_end(pty, 1);
  std::size_t second_prompt =
      pty.screen().rfind(std::string(PROMPT) + "folder");
  EXPECT_EQ(pty.screen().find("[A", second_prompt), std::string::npos)
      << kt::printable(pty.screen().substr(second_prompt));
  EXPECT_EQ(kt::read_file(dir.path("out.txt")), RECORDS);
}

// With all three standard streams on files, the dialog is still drawn on
// the terminal and the question's key still comes from it: the "q" on
// standard input is never read as the answer.
TEST_F(TtyTest, DialogAndKeyUseTheTerminalWhenStreamsAreFiles) {
  kt::write_file(dir.path("out.txt"), OLD_CONTENT);
  kt::TempDir io;
  kt::write_file(io.path("stdin"), "q");
  kt::PtyOptions options = in_dir();
  options.stdin_path = io.path("stdin");
  options.stdout_path = io.path("stdout");
  options.stderr_path = io.path("stderr");
  kt::Pty pty({"in.txt", "-"}, options);
  ASSERT_TRUE(pty.expect(TITLE));
  ASSERT_TRUE(pty.expect(ALL_FILES_ACTIVE));
  ASSERT_TRUE(choose(pty, "out.txt"));
  // The question itself goes to the standard error file.
  ASSERT_TRUE(
      pty.wait_for_mode(reading_raw_key, "the terminal reads a raw key"));
  pty.send("y");
  expect_end(pty, 1);
  EXPECT_EQ(kt::read_file(dir.path("out.txt")), RECORDS);
  std::string err = kt::read_file(io.path("stderr"));
  EXPECT_NE(err.find("out.txt aleady exists\n"), std::string::npos) << err;
  EXPECT_NE(err.find(QUESTION_END), std::string::npos) << err;
  EXPECT_EQ(pty.screen().find("aleady exists"), std::string::npos);
  EXPECT_NE(kt::read_file(io.path("stdout")).find("Processing input"),
            std::string::npos);
}

// --- Ctrl-C -------------------------------------------------------------

struct Step {
  const char *shown; // wait for this on the screen
  const char *keys;  // then type this
};

struct InterruptCase {
  const char *name;
  std::vector<Step> steps; // the last one types Ctrl-C
};

void PrintTo(const InterruptCase &c, std::ostream *os) { *os << c.name; }

class InterruptTest : public TtyTest,
                      public ::testing::WithParamInterface<InterruptCase> {};

TEST_P(InterruptTest, EndsWithStatus2AndCreatesNothing) {
  kt::Pty pty({"in.txt", "-"}, in_dir());
  for (const Step &step : GetParam().steps) {
    ASSERT_TRUE(pty.expect(step.shown));
    pty.send(step.keys);
  }
  expect_end(pty, 2);
  EXPECT_EQ(folder_listing(dir.root), std::vector<std::string>{"in.txt"});
}

INSTANTIATE_TEST_SUITE_P(
    Moments, InterruptTest,
    ::testing::Values(
        InterruptCase{"EmptyDialog", {{PROMPT, "\x03"}}},
        InterruptCase{"HalfTypedName", {{PROMPT, "half"}, {"half", "\x03"}}},
        InterruptCase{"EnterWait",
                      {{PROMPT, "sub/out.txt\r"}, {ENTER_WAIT, "\x03"}}}),
    [](const auto &info) { return std::string(info.param.name); });

using kt::IgnoredSigpipe;

// Opens the writing end of a FIFO once the program has opened the reading
// end; -1 if it does not within the timeout.
int open_fifo_writer(const std::string &path) {
  auto deadline = std::chrono::steady_clock::now() + kt::PTY_TIMEOUT;
  for (;;) {
    int fd = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0 || errno != ENXIO ||
        std::chrono::steady_clock::now() > deadline)
      return fd;
    std::this_thread::sleep_for(milliseconds(1));
  }
}

bool write_fifo(int fd, const std::string &bytes) {
  auto deadline = std::chrono::steady_clock::now() + kt::PTY_TIMEOUT;
  std::size_t at = 0;
  while (at < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + at, bytes.size() - at);
    if (n > 0) {
      at += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR)
      return false;
    if (std::chrono::steady_clock::now() > deadline)
      return false;
    pollfd p = {fd, POLLOUT, 0};
    poll(&p, 1, 50);
  }
  return true;
}

// Ctrl-C while the conversion waits for more of a slow input: the output
// keeps the records written so far, each of them whole.
TEST_F(TtyTest, InterruptDuringSlowInputKeepsWholeRecords) {
  std::string fifo = dir.path("slow.fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0) << std::strerror(errno);
  std::string lines, records;
  for (int i = 0; i < 8000; ++i) {
    std::string line = "line " + std::to_string(100000 + i);
    lines += line + "\n";
    records += kt::record(line);
  }
  ASSERT_GT(lines.size(), 64u * 1024);

  IgnoredSigpipe ignored;
  kt::Pty pty({"slow.fifo", "out.txt"}, in_dir());
  int writer = open_fifo_writer(fifo);
  ASSERT_GE(writer, 0) << std::strerror(errno);
  EXPECT_TRUE(write_fifo(writer, lines));
  // The input stays open, so the conversion waits for more; it has written
  // a block of records once the output has any bytes.
  std::string out = dir.path("out.txt");
  EXPECT_TRUE(pty.wait_until(
      [&] {
        struct stat st;
        return stat(out.c_str(), &st) == 0 && st.st_size > 0;
      },
      "the output has records"));
  pty.send("\x03");
  expect_end(pty, 2);
  close(writer);

  std::string written = kt::read_file(out);
  EXPECT_FALSE(written.empty());
  EXPECT_TRUE(kt::whole_records(written));
  EXPECT_LT(written.size(), records.size());
  EXPECT_EQ(written, records.substr(0, written.size()));
}

} // namespace
