// The command line through the real binary, with no terminal: the help
// text, options, messages, statuses and files. The same cases run against
// the Windows build under wine; where that platform differs (its reasons,
// its names for absolute paths and devices), a case says what each expects.
// The Windows reasons are worded as wine words them.
#include "harness.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using kt::by_platform;
using kt::record;
using kt::run_kobrat;
using kt::RunResult;

const char HELP[] =
    "\nKOBRAT  adds a record length to every line of a text file\n\n"
    "\n\nUsage:\n\nKOBRAT  inputfile  outputfile\n"
    "\nKOBRA is designed to add a 4 byte record length to the beginning\n"
    "of a CR/LF delimeted record. This addition will make it compatable "
    "with\n"
    "a mainframe format which the quelder program is able to read.\n"
    "\nIn reprocessing the output with quelder.exe it is expected the user "
    "is\n"
    "very familiar with the record layout of the file.\n\n";

std::string progress(const std::string &name) {
  char line[256];
  std::snprintf(line, sizeof line, "\nProcessing input %16s ", name.c_str());
  return line;
}

std::size_t entries(const std::string &dir) {
  auto it = std::filesystem::directory_iterator(dir);
  return static_cast<std::size_t>(std::distance(it, {}));
}

struct Folder : ::testing::Test {
  kt::TempDir dir;
  void SetUp() override { kt::write_file(dir.path("in"), "abc\r\nde\n"); }
  RunResult run(const std::vector<std::string> &args) {
    return run_kobrat(args, dir.root);
  }
};

using Help = Folder;

TEST_F(Help, FewerThanTwoNamesPrintTheHelpAndTouchNothing) {
  for (const std::vector<std::string> &args :
       {std::vector<std::string>{}, std::vector<std::string>{"in"}}) {
    RunResult r = run(args);
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.out, HELP);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(entries(dir.root), 1u); // only the input
  }
}

struct OptionCase {
  std::vector<std::string> args;
  int status;
  std::string message; // standard output after the usual start
};

using Options = Folder;

TEST_F(Options, TableOfOptionArguments) {
  const std::string converted = progress("in");
  const OptionCase cases[] = {
      {{"in", "out", "-r80"}, 1, converted},
      {{"in", "out", "-r", "80"}, 1, converted},
      {{"in", "out", "-rq"}, 1, converted},
      {{"in", "out", "-r", "-x"}, 1, converted},
      {{"in", "out", "-r", "80", "extra", "-q"}, 1, converted},
      {{"in", "out", "-"}, 1, converted},
      {{"in", "out", "-r", "-x", "-y"}, 6, "\n\nfound illegal option y\n"},
      {{"in", "out", "-x"}, 6, "\n\nfound illegal option x\n"},
      {{"in", "out", "-ab"}, 6, "\n\nfound illegal option a\n"},
      {{"in", "out", "--"}, 6, "\n\nfound illegal option -\n"},
      {{"in", "out", "-R"}, 6, "\n\nfound illegal option R\n"},
      {{"in", "out", "-1"}, 6, "\n\nfound illegal option 1\n"},
      {{"in", "out", "-r", "80", "-q"}, 6, "\n\nfound illegal option q\n"},
      {{"in", "out", "extra", "-x"}, 6, "\n\nfound illegal option x\n"},
      {{"in", "-out"}, 6, "\n\nfound illegal option o\n"},
      {{"-data.txt", "out"}, 6, "\n\nfound illegal option d\n"},
      {{"in", "out", "-r"}, 6, "\n\nfound incomplete option r\n"},
      {{"in", "-r"}, 6, "\n\nfound incomplete option r\n"},
  };
  for (const OptionCase &c : cases) {
    std::string shown;
    for (const std::string &a : c.args)
      shown += a + " ";
    RunResult r = run(c.args);
    EXPECT_EQ(r.status, c.status) << shown;
    EXPECT_EQ(r.out, c.message) << shown;
    if (c.status == 6)
      EXPECT_FALSE(kt::file_exists(dir.path("out"))) << shown;
    else
      EXPECT_EQ(kt::read_file(dir.path("out")), record("abc") + record("de"))
          << shown;
    std::filesystem::remove(dir.path("out"));
  }
}

TEST_F(Options, NamesAreTheFirstTwoArgumentsEvenWhenTheyLookLikeOptions) {
  // "-r" is the input name and "80" the output name; "-r" takes "80" as
  // its value while the options are scanned.
  kt::write_file(dir.path("-r"), "x\n");
  RunResult r = run({"-r", "80", "in", "out"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(kt::read_file(dir.path("80")), record("x"));
  EXPECT_FALSE(kt::file_exists(dir.path("out")));
}

using Progress = Folder;

TEST_F(Progress, ACompleteRunPrintsOnlyTheProgressLine) {
  const std::string long_name = "a-rather-long-input-name.txt";
  kt::write_file(dir.path(long_name), "x\n");
  for (const std::string &name : {std::string("in"), long_name}) {
    RunResult r = run({name, "out"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, progress(name));
    EXPECT_EQ(r.err, "");
  }
  EXPECT_EQ(progress("in"), "\nProcessing input               in ");
}

TEST_F(Progress, APlainlyNamedExistingOutputIsEmptiedWithoutAQuestion) {
  kt::write_file(dir.path("out"), "old content that is longer\n");
  RunResult r = run({"in", "out"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(kt::read_file(dir.path("out")), record("abc") + record("de"));
}

TEST_F(Progress, AnAbsoluteOutputPathIsAName) {
  RunResult r = run({"in", kt::native_path(dir.path("out"))});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(kt::read_file(dir.path("out")), record("abc") + record("de"));
}

TEST_F(Progress, TheNullDeviceIsAnOutputThatNeedsNoEmptying) {
  RunResult r = run({"in", by_platform("/dev/null", "NUL")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(entries(dir.root), 1u); // only the input
}

using Input = Folder;

TEST_F(Input, AMissingInputLeavesNoOutputFile) {
  kt::write_file(dir.path("kept"), "keep me");
  for (std::string out : {"out", "kept"}) {
    RunResult r = run({"nope", out});
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.out,
              progress("nope") + "Can't open input file nope\n" + "reason: " +
                  by_platform("No such file or directory", "File not found.") +
                  "\n");
  }
  EXPECT_FALSE(kt::file_exists(dir.path("out")));
  EXPECT_EQ(kt::read_file(dir.path("kept")), "keep me");
}

TEST_F(Input, ADirectoryIsNotAnInputFile) {
  std::filesystem::create_directory(dir.path("sub"));
  RunResult r = run({"sub", "out"});
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.out, progress("sub") + "Can't open input file sub\n" +
                       "reason: " +
                       by_platform("Is a directory",
                                   "The name is a directory, not a file.") +
                       "\n");
  EXPECT_FALSE(kt::file_exists(dir.path("out")));
}

TEST_F(Input, TheRecordsOfALargeFile) {
  std::string input, expected;
  for (int i = 0; i < 30000; ++i) {
    std::string text(static_cast<std::size_t>(i % 50), char('a' + i % 26));
    input += text + (i % 2 ? "\r\n" : "\n");
    expected += record(text);
  }
  kt::write_file(dir.path("big"), input);
  RunResult r = run({"big", "out"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(kt::read_file(dir.path("out")), expected);
  // Space reserved ahead of the writes is given back: the file holds no
  // more than its own blocks.
  struct stat st;
  ASSERT_EQ(stat(dir.path("out").c_str(), &st), 0);
  EXPECT_LE(st.st_blocks * 512, st.st_size + 65536);
}

// The report of a failed output attempt: the module's source and line,
// the message and the system's reason.
std::string attempt_report(const std::string &message,
                           const std::string &reason) {
  return "\nINCLUDE1/Generic6\\.cpp\n[0-9]+\n" + message +
         "\nreason: " + reason + "\n";
}

using SameFile = Folder;

TEST_F(SameFile, TheInputIsNeverTheOutput) {
  const std::string original = kt::read_file(dir.path("in"));
  ASSERT_EQ(link(dir.path("in").c_str(), dir.path("hard").c_str()), 0);
  ASSERT_EQ(symlink("in", dir.path("soft").c_str()), 0);
  for (std::string out : {"in", "./in", "hard", "soft"}) {
    RunResult r = run({"in", out});
    EXPECT_EQ(r.status, 4) << out;
    std::string escaped = std::regex_replace(out, std::regex("\\."), "\\.");
    EXPECT_TRUE(std::regex_search(
        r.err, std::regex(attempt_report("error opening output file " + escaped,
                                         "the output file is the input file"))))
        << out << ": " << r.err;
    EXPECT_EQ(kt::read_file(dir.path("in")), original) << out;
  }
}

using Faults = Folder;

// Wine opens Linux devices on its Z: drive, and gives their failures the
// system's codes and words.
TEST_F(Faults, AFullDiskIsAWriteError) {
  const std::string full = kt::native_path("/dev/full");
  RunResult r = run({"in", full});
  EXPECT_EQ(r.status, 9);
  EXPECT_EQ(r.err, "\nerror writing output file " + full + ": " +
                       by_platform("No space left on device", "Disk full.") +
                       "\n");
}

TEST_F(Faults, AnUnreadableInputIsAReadError) {
  // Reading a process's own memory at offset 0 fails with EIO.
  const std::string memory = kt::native_path("/proc/self/mem");
  RunResult r = run({memory, "out"});
  EXPECT_EQ(r.status, 11);
  EXPECT_EQ(r.err, "\nerror reading input file " + memory + ": " +
                       by_platform("Input/output error", "Not ready.") + "\n");
  EXPECT_EQ(kt::read_file(dir.path("out")), "");
}

TEST_F(Faults, AnOutputThatCannotBeCreated) {
  // Two attempts: the given name, then a dialog that cannot be shown here;
  // then the final report, naming the last name tried.
  RunResult r = run({"in", "no/such/dir/out"});
  EXPECT_EQ(r.status, 4);
  const std::string expected =
      attempt_report(
          "error opening output file no/such/dir/out",
          by_platform("No such file or directory", "Path not found\\.")) +
      "hit return to choose new output file" +
      attempt_report("error opening output file \\(null\\)",
                     "no file was chosen") +
      "\nINCLUDE1/Generic6\\.cpp\n[0-9]+\nerror opening output file "
      "\\(null\\)\n";
  EXPECT_TRUE(std::regex_match(r.err, std::regex(expected))) << r.err;
  EXPECT_FALSE(kt::file_exists(dir.path("no")));
}

// Without a terminal (under wine: without a display) no dialog can be
// shown. On Windows a name that begins with '/' asks for it as well.
TEST_F(Faults, TheDialogWithoutATerminal) {
  std::vector<std::vector<std::string>> cases = {
      {"in", "-"}, {"in", "-rout"}, {"in", "-r", "x"}}; // "-r" is a name here
  if (kt::testing_windows_build())
    cases.push_back({"in", "/out"});
  for (const std::vector<std::string> &args : cases) {
    RunResult r = run(args);
    EXPECT_EQ(r.status, 4) << args[1];
    EXPECT_EQ(r.err, "\n\nno output file could be chosen: the file "
                     "selection dialog needs a terminal\n")
        << args[1];
    EXPECT_FALSE(kt::file_exists(dir.path("out"))) << args[1];
  }
}

} // namespace
