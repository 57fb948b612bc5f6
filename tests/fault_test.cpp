// Every failing system call, in turn: the fault build of kobrat makes the
// Nth call of one operation fail (or come back short) and the tests check
// that the run says so, with the right status and the file's name, that
// the output holds only whole records, and that a run that ends with
// status 1 has lost nothing.
#include "harness.h"
#include "pty.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

namespace {

using kt::RunResult;

const char *const FAULTS_BINARY = KOBRAT_FAULTS_BINARY;

// Sets an environment variable for the runs started inside one scope.
struct ScopedEnv {
  const char *name;
  ScopedEnv(const char *n, const std::string &value) : name(n) {
    setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() { unsetenv(name); }
};

std::map<std::string, unsigned> read_counts(const std::string &path) {
  std::map<std::string, unsigned> counts;
  std::ifstream in(path);
  std::string op;
  unsigned n;
  while (in >> op >> n)
    counts[op] = n;
  return counts;
}

bool is_prefix(const std::string &part, const std::string &whole) {
  return whole.compare(0, part.size(), part) == 0;
}

// The statuses a run may end with when the given operation fails for real.
// A failed close may be the input's, which loses nothing.
std::vector<int> statuses_for(const std::string &op) {
  static const std::map<std::string, std::vector<int>> table = {
      {"open_input", {3}}, {"read", {11}},  {"open_output", {4}},
      {"truncate", {4}},   {"write", {9}},  {"close", {1, 9}},
      {"seek", {4}},       {"exists", {1}}, {"terminal", {1, 4}},
      {"reserve", {1}}, // space reserved ahead: the writes go on without
  };
  return table.at(op);
}

struct Conversion : ::testing::Test {
  kt::TempDir dir;
  std::string expected;

  void SetUp() override {
    std::string input;
    for (int i = 0; i < 9000; ++i)
      input += "line " + std::to_string(i) + std::string(i % 40, 'x') +
               (i % 3 ? "\r\n" : "\n");
    kt::write_file(dir.path("in.txt"), input);
    RunResult plain = kt::run_kobrat({"in.txt", "good.dat"}, dir.root);
    ASSERT_EQ(plain.status, 1);
    expected = kt::read_file(dir.path("good.dat"));
    ASSERT_GT(expected.size(), 200000u); // several blocks each way
  }

  RunResult run_with(const std::string &fault) {
    ScopedEnv env("KOBRAT_FAULT", fault);
    std::remove(dir.path("out.dat").c_str());
    return kt::run_binary(FAULTS_BINARY, {"in.txt", "out.dat"}, dir.root);
  }
};

TEST_F(Conversion, EveryCallOfEveryOperationFailsInTurn) {
  std::map<std::string, unsigned> counts;
  {
    ScopedEnv env("KOBRAT_FAULT_COUNT", dir.path("counts"));
    RunResult counted = run_with("none:0:EIO");
    ASSERT_EQ(counted.status, 1);
    counts = read_counts(dir.path("counts"));
  }
  ASSERT_GE(counts["read"], 4u);
  ASSERT_GE(counts["write"], 3u);
  for (const auto &[op, calls] : counts) {
    for (unsigned n = 1; n <= calls; ++n) {
      for (const char *kind : {"EIO", "ENOSPC", "EINTR", "SHORT"}) {
        std::string fault = op + ":" + std::to_string(n) + ":" + kind;
        RunResult r = run_with(fault);
        std::string out = kt::read_file(dir.path("out.dat"));
        EXPECT_TRUE(kt::whole_records(out)) << fault;
        EXPECT_TRUE(is_prefix(out, expected)) << fault;
        bool transient = std::string(kind) == "EINTR" || kind[0] == 'S';
        if (transient) { // retried or taken in parts: not a failure
          EXPECT_EQ(r.status, 1) << fault << ": " << r.out << r.err;
        } else {
          std::vector<int> allowed = statuses_for(op);
          EXPECT_NE(std::find(allowed.begin(), allowed.end(), r.status),
                    allowed.end())
              << fault << " ended with " << r.status << ": " << r.out << r.err;
        }
        if (r.status == 1) {
          EXPECT_EQ(out, expected) << fault << ": status 1 after a loss";
        } else {
          std::string said = r.out + r.err;
          EXPECT_TRUE(said.find("in.txt") != std::string::npos ||
                      said.find("out.dat") != std::string::npos)
              << fault << ": the message names no file: " << said;
        }
      }
    }
  }
}

// The dialog, the question and an append, on a terminal: every call of the
// terminal, the existence test, the open, the seek, the writes and the
// closes fails in turn.
struct DialogRun : ::testing::Test {
  kt::TempDir dir;
  const std::string old_content = kt::record("old");
  std::string records;

  void SetUp() override {
    kt::write_file(dir.path("in.txt"), "abc\nde\r\n");
    records = kt::record("abc") + kt::record("de");
  }

  // Starts the fault build, chooses old.dat and answers A; returns status.
  int run_with(const std::string &fault, std::string *mode_change) {
    kt::write_file(dir.path("old.dat"), old_content);
    ScopedEnv binary("KOBRAT_UNDER_TEST", FAULTS_BINARY);
    ScopedEnv env("KOBRAT_FAULT", fault);
    kt::Pty pty({"in.txt", "-"}, {dir.root, "", "", ""});
    if (pty.appears("File name: ", kt::milliseconds(2000))) {
      pty.send("old.dat\r");
      if (pty.appears("Enter a Y, Q, or A ", kt::milliseconds(2000)))
        pty.send("a");
      // A failed attempt: Enter, then the dialog's name as it stands.
      if (pty.appears("hit return", kt::milliseconds(500))) {
        pty.send("\r");
        if (pty.appears("File name: ", kt::milliseconds(2000)))
          pty.send("\r");
      }
    }
    int status = pty.wait_exit();
    *mode_change = pty.mode_change();
    return status;
  }
};

TEST_F(DialogRun, EveryCallFailsInTurn) {
  std::map<std::string, unsigned> counts;
  {
    ScopedEnv env("KOBRAT_FAULT_COUNT", dir.path("counts"));
    std::string mode;
    ASSERT_EQ(run_with("none:0:EIO", &mode), 1);
    counts = read_counts(dir.path("counts"));
    ASSERT_EQ(kt::read_file(dir.path("old.dat")), old_content + records);
  }
  ASSERT_GE(counts["terminal"], 3u);
  for (const char *op :
       {"terminal", "exists", "open_output", "seek", "write", "close"}) {
    for (unsigned n = 1; n <= counts[op]; ++n) {
      for (const char *kind : {"EIO", "EINTR"}) {
        std::string fault =
            std::string(op) + ":" + std::to_string(n) + ":" + kind;
        std::string mode_change;
        int status = run_with(fault, &mode_change);
        std::string out = kt::read_file(dir.path("old.dat"));
        EXPECT_EQ(mode_change, "") << fault;
        EXPECT_TRUE(kt::whole_records(out)) << fault;
        if (status == 1) // appended, or overwritten when no key was read
          EXPECT_TRUE(out == old_content + records || out == records)
              << fault << ": status 1 after a loss";
        else // the old content stays, with whole records after it
          EXPECT_TRUE(is_prefix(old_content, out) && status != -1)
              << fault << " ended with " << status;
      }
    }
  }
}

} // namespace
