// kobrat-check: the record checker fed in blocks of every size, and the
// real binary on crafted files, damaged converted files, round trips of
// kobrat's output, usage errors and files that cannot be read.
#include "check/checker.h"
#include "harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <regex>
#include <sys/wait.h>

namespace {

using kt::record;
using kt::RunResult;
using namespace std::string_literals;

const char CHECK_BINARY[] = KOBRAT_CHECK_BINARY;

RunResult run_check(const std::vector<std::string> &args,
                    const std::string &cwd) {
  return kt::run_binary(CHECK_BINARY, args, cwd);
}

std::string repeat(char c, std::size_t n) { return std::string(n, c); }

// --- the checker alone, fed in blocks ----------------------------------------

// Everything the checker tells about a stream: the records it read (text
// and size) and its verdict.
struct Verdict {
  std::string records;
  Fault fault = Fault::NONE;
  std::uint64_t offset = 0;
  std::uint64_t count = 0;
  std::size_t longest = 0;
  std::string description;
};

Verdict check_in_blocks(const std::string &bytes, std::size_t block) {
  RecordChecker checker;
  checker_start(checker);
  Verdict v;
  const auto *data = reinterpret_cast<const unsigned char *>(bytes.data());
  bool stopped = false;
  for (std::size_t at = 0; at < bytes.size() && !stopped; at += block) {
    const unsigned char *in = data + at;
    std::size_t count = std::min(block, bytes.size() - at);
    for (;;) {
      std::size_t used = 0;
      CheckedRecord r;
      Step step = next_record(checker, in, count, used, r);
      in += used;
      count -= used;
      if (step != Step::RECORD) {
        stopped = step == Step::FAULT;
        break;
      }
      v.records.append(reinterpret_cast<const char *>(r.text), r.text_size);
      v.records += '|';
      v.records += std::to_string(r.size);
      v.records += '\n';
    }
  }
  if (!checker_end(checker)) {
    char text[96];
    describe_fault(checker, text, sizeof text);
    v.description = text;
  }
  v.fault = checker.fault;
  v.offset = checker.offset;
  v.count = checker.records;
  v.longest = checker.longest;
  return v;
}

// Streams of sound records and of every kind of fault, some of them past
// a long first record so that a fault can fall across a block boundary.
std::vector<std::string> streams() {
  std::string sound = record("abc") + record("") +
                      record(std::string("a\0\rb", 4)) +
                      record(repeat('x', 2047)) + record("") +
                      record(repeat('y', 2046)) + record("z");
  std::string lead = record(repeat('q', 1500));
  return {
      "",
      sound,
      lead + "00x9abc\r\n",
      lead + "0003\r\n",
      lead + "2054" + repeat('a', 2048) + "\r\n",
      lead + "0010abc\r\n",
      lead + "00",
      lead + "0x",
      lead + "0009abcd\n",
      sound + "0100" + repeat('b', 94) + "\r",
      sound + "0020" + repeat('c', 13) + "\r\n" + record("d"),
  };
}

TEST(CheckerBlocks, GivesTheSameRecordsAndVerdictInBlocksOfAnySize) {
  for (const std::string &bytes : streams()) {
    Verdict whole = check_in_blocks(bytes, bytes.size() + 1);
    for (std::size_t block :
         {1, 2, 3, 4, 5, 6, 7, 13, 1000, 2052, 2053, 2054, 4096}) {
      SCOPED_TRACE("stream of " + std::to_string(bytes.size()) +
                   " bytes in blocks of " + std::to_string(block));
      Verdict v = check_in_blocks(bytes, block);
      EXPECT_EQ(v.records, whole.records);
      EXPECT_EQ(v.fault, whole.fault);
      EXPECT_EQ(v.offset, whole.offset);
      EXPECT_EQ(v.count, whole.count);
      EXPECT_EQ(v.longest, whole.longest);
      EXPECT_EQ(v.description, whole.description);
    }
  }
}

TEST(CheckerBlocks, HandsOutEachTextWithItsRecordSize) {
  std::string bytes = record("abc") + record(repeat('x', 2047)) + record("");
  Verdict v = check_in_blocks(bytes, 7);
  EXPECT_EQ(v.records, "abc|9\n" + repeat('x', 2047) + "|2053\n|6\n");
  EXPECT_EQ(v.fault, Fault::NONE);
  EXPECT_EQ(v.count, 3u);
  EXPECT_EQ(v.longest, 2053u);
}

// --- the binary on crafted files ---------------------------------------------

struct FaultCase {
  const char *what;
  std::string bytes;
  std::string line; // standard output, without the name "f: "
  int status;
};

TEST(CheckVerdicts, OneLinePerFileWithTheFirstFault) {
  const std::string abc = record("abc");
  const std::vector<FaultCase> cases = {
      {"empty file", "", "ok, 0 records, 0 bytes, longest 0", 0},
      {"one empty record", record(""), "ok, 1 record, 6 bytes, longest 6", 0},
      {"NUL and lone CR in a text", abc + record("") + record("a\0\rb"s),
       "ok, 3 records, 25 bytes, longest 10", 0},
      {"full piece", record(repeat('a', 2047)) + record(""),
       "ok, 2 records, 2059 bytes, longest 2053", 0},
      {"letter in the field", "00x9abc\r\n",
       "record 1 at byte 0: length field '00x9' is not four digits", 1},
      {"control bytes in the field", abc + "0\x01\r\nabc",
       "record 2 at byte 9: length field '0\\x01\\x0D\\x0A' is not four "
       "digits",
       1},
      {"quote, backslash, high byte", abc + "'\\\xff" + "0abcdef",
       "record 2 at byte 9: length field '\\'\\\\\\xFF0' is not four digits",
       1},
      {"space in the field", " 009abc\r\n",
       "record 1 at byte 0: length field ' 009' is not four digits", 1},
      {"length below 6", "0003\r\n",
       "record 1 at byte 0: length 0003 is below the smallest record, 6", 1},
      {"length 0", abc + "0000",
       "record 2 at byte 9: length 0000 is below the smallest record, 6", 1},
      {"length 2054", "2054" + repeat('a', 2048) + "\r\n",
       "record 1 at byte 0: length 2054 is above the largest record, 2053", 1},
      {"length 9999 at the end", abc + "9999",
       "record 2 at byte 9: length 9999 is above the largest record, 2053", 1},
      {"record past the end", abc + "0010abc\r\n",
       "record 2 at byte 9: record runs past the end of the file (length "
       "0010, 9 bytes left)",
       1},
      {"field cut short", abc + "00",
       "record 2 at byte 9: record runs past the end of the file (2 bytes "
       "left)",
       1},
      {"one byte of a field", "0",
       "record 1 at byte 0: record runs past the end of the file (1 byte "
       "left)",
       1},
      {"letter in a field cut short", abc + "0x",
       "record 2 at byte 9: length field '0x' is not four digits", 1},
      {"LF without CR", "0009abcd\n",
       "record 1 at byte 0: does not end in CR LF (ends in 'd\\x0A')", 1},
      {"LF CR", "0009abc\n\r",
       "record 1 at byte 0: does not end in CR LF (ends in '\\x0A\\x0D')", 1},
      {"length one short", abc + abc + abc + "0007ab\r\n",
       "record 4 at byte 27: does not end in CR LF (ends in 'b\\x0D')", 1},
  };
  kt::TempDir dir;
  for (const FaultCase &c : cases) {
    SCOPED_TRACE(c.what);
    kt::write_file(dir.path("f"), c.bytes);
    RunResult r = run_check({"f"}, dir.root);
    EXPECT_EQ(r.out, "f: " + c.line + "\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, c.status);
  }
}

// --- damaged converted files -------------------------------------------------

// kobrat's records of 7,000 lines of 94 characters: 100 bytes each, record
// n starting at byte 100 * (n - 1).
constexpr std::size_t LINES = 7000;
constexpr std::size_t RECORD = 100;

std::string lines_of_94() {
  std::string text;
  for (std::size_t n = 0; n < LINES; ++n) {
    for (std::size_t i = 0; i < RECORD - 6; ++i)
      text += static_cast<char>('a' + (n + i) % 26);
    text += n % 2 == 0 ? "\n" : "\r\n";
  }
  return text;
}

enum class Damage { TRUNCATE_TEXT, TRUNCATE_FIELD, DIGIT, LETTER, CR_LF };

std::string damaged(std::string file, std::size_t n, Damage damage) {
  std::size_t at = RECORD * (n - 1);
  switch (damage) {
  case Damage::TRUNCATE_TEXT:
    file.resize(at + 50);
    break;
  case Damage::TRUNCATE_FIELD:
    file.resize(at + 2);
    break;
  case Damage::DIGIT:
    file[at + 3] = '7'; // "0107": its end falls inside the next record
    break;
  case Damage::LETTER:
    file[at + 1] = 'x';
    break;
  case Damage::CR_LF:
    file.erase(at + RECORD - 2, 2);
    break;
  }
  return file;
}

struct DamageCase {
  std::size_t record;
  Damage damage;
  std::string fault;
};

TEST(CheckVerdicts, FindTheDamagedRecordOfAConvertedFile) {
  kt::TempDir dir;
  kt::write_file(dir.path("in"), lines_of_94());
  ASSERT_EQ(kt::run_kobrat({"in", "out"}, dir.root).status, 1);
  const std::string file = kt::read_file(dir.path("out"));
  ASSERT_EQ(file.size(), LINES * RECORD);
  ASSERT_EQ(run_check({"out"}, dir.root).out,
            "out: ok, 7000 records, 700000 bytes, longest 100\n");

  const std::string past_end = "record runs past the end of the file ";
  const std::vector<DamageCase> cases = {
      {1, Damage::LETTER, "length field '0x00' is not four digits"},
      {2622, Damage::LETTER, "length field '0x00' is not four digits"},
      {5243, Damage::DIGIT, "does not end in CR LF (ends in '"},
      {LINES, Damage::DIGIT, past_end + "(length 0107, 100 bytes left)"},
      {1, Damage::CR_LF, "does not end in CR LF (ends in '01')"},
      {2622, Damage::CR_LF, "does not end in CR LF (ends in '01')"},
      {LINES, Damage::CR_LF, past_end + "(length 0100, 98 bytes left)"},
      {2622, Damage::TRUNCATE_TEXT, past_end + "(length 0100, 50 bytes left)"},
      {5243, Damage::TRUNCATE_FIELD, past_end + "(2 bytes left)"},
  };
  for (const DamageCase &c : cases) {
    SCOPED_TRACE("record " + std::to_string(c.record) + ": " + c.fault);
    kt::write_file(dir.path("bad"), damaged(file, c.record, c.damage));
    RunResult r = run_check({"bad"}, dir.root);
    std::string expected =
        "bad: record " + std::to_string(c.record) + " at byte " +
        std::to_string(RECORD * (c.record - 1)) + ": " + c.fault;
    EXPECT_EQ(r.out.substr(0, expected.size()), expected) << r.out;
    EXPECT_EQ(r.out.back(), '\n');
    EXPECT_EQ(r.status, 1);
  }
}

// --- texts back --------------------------------------------------------------

// The text as kobrat reads it: nothing from a 0x1A on, CR LF as LF, and an
// LF after a last line that has none.
std::string folded(const std::string &input) {
  std::string text = input.substr(0, input.find('\x1a'));
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i)
    if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n'))
      out += text[i];
  if (!out.empty() && out.back() != '\n')
    out += '\n';
  return out;
}

// Lines of the lengths where pieces begin and end, with CR LF or LF, lone
// CRs and NULs inside and at the edges of the pieces, now and then a 0x1A
// with bytes after it, and now and then no line end at the end.
std::string random_input(std::mt19937 &rng, std::size_t lines) {
  static const std::size_t LENGTHS[] = {0,    1,    2,    2045, 2046, 2047,
                                        2048, 2049, 4093, 4094, 4095, 6141};
  std::string input;
  for (std::size_t n = 0; n < lines; ++n) {
    std::size_t length = rng() % 3 == 0 ? rng() % 80 : LENGTHS[rng() % 12];
    std::string line(length, 'a');
    for (char &c : line) {
      unsigned roll = rng() % 64;
      c = roll == 0   ? '\r'
          : roll == 1 ? '\0'
                      : static_cast<char>('a' + roll % 26);
    }
    input += line;
    unsigned end = rng() % 8;
    input += end < 4 ? "\n" : end < 7 ? "\r\n" : "\r";
  }
  if (rng() % 2 == 0)
    input.pop_back(); // the last line without its end (or a CR left alone)
  if (rng() % 8 == 0)
    input.insert(rng() % (input.size() + 1), "\x1a" + "after\n"s);
  return input;
}

TEST(CheckTexts, ComeBackAsKobratReadThem) {
  std::mt19937 rng(20261211);
  kt::TempDir dir;
  const std::regex ok("out: ok, [0-9]+ records?, ([0-9]+) bytes, longest "
                      "([0-9]+)\n");
  for (int round = 0; round < 120; ++round) {
    // Every tenth input is large enough to span many reading blocks.
    std::string input = random_input(rng, round % 10 == 0 ? 400 : 12);
    SCOPED_TRACE("round " + std::to_string(round));
    kt::write_file(dir.path("in"), input);
    ASSERT_EQ(kt::run_kobrat({"in", "out"}, dir.root).status, 1);
    RunResult text = run_check({"--text", "out"}, dir.root);
    EXPECT_EQ(text.status, 0) << text.err;
    EXPECT_EQ(text.err, "");
    EXPECT_TRUE(text.out == folded(input)) << "texts differ";
    RunResult check = run_check({"out"}, dir.root);
    std::smatch m;
    ASSERT_TRUE(std::regex_match(check.out, m, ok)) << check.out;
    EXPECT_EQ(std::stoull(m[1]), kt::read_file(dir.path("out")).size());
    EXPECT_LE(std::stoul(m[2]), 2053u);
    EXPECT_EQ(check.status, 0);
  }
}

struct TextCase {
  const char *what;
  std::string bytes;
  std::string out;
  std::string err; // without the name "f: "
  int status;
};

TEST(CheckTexts, JoinPiecesAndStopAtAFault) {
  const std::string a = repeat('a', 2047);
  const std::vector<TextCase> cases = {
      {"a piece and an empty record", record(a) + record(""), a + "\n", "", 0},
      {"a piece last", record("x") + record(a), "x\n" + a + "\n", "", 0},
      {"two pieces and a rest", record(a) + record(a) + record("b"),
       a + a + "b\n", "", 0},
      {"fault after a record", record("abc") + "00x9abc\r\n", "abc\n",
       "record 2 at byte 9: length field '00x9' is not four digits", 1},
      {"fault after a piece", record(a) + "0010ab", a + "\n",
       "record 2 at byte 2053: record runs past the end of the file (length "
       "0010, 6 bytes left)",
       1},
      {"fault first", "0009abc\n\r", "",
       "record 1 at byte 0: does not end in CR LF (ends in '\\x0A\\x0D')", 1},
  };
  kt::TempDir dir;
  for (const TextCase &c : cases) {
    SCOPED_TRACE(c.what);
    kt::write_file(dir.path("f"), c.bytes);
    RunResult r = run_check({"--text", "f"}, dir.root);
    EXPECT_TRUE(r.out == c.out) << "texts differ";
    EXPECT_EQ(r.err, c.err.empty() ? "" : "f: " + c.err + "\n");
    EXPECT_EQ(r.status, c.status);
  }
}

// --- the command line --------------------------------------------------------

struct UsageCase {
  std::vector<std::string> args;
  int status;
  std::string out_begins; // the start of standard output
  std::string err_has;    // a part of standard error
};

TEST(CheckCommandLine, HelpVersionAndUsageErrors) {
  const std::string try_help = "Try 'kobrat-check --help'";
  const std::vector<UsageCase> cases = {
      {{"--help"}, 0, "Usage: kobrat-check FILE...\n", ""},
      {{"-h", "f"}, 0, "Usage: kobrat-check FILE...\n", ""},
      {{"--version"}, 0, "kobrat-check " KOBRAT_VERSION "\n", ""},
      {{}, 2, "", "kobrat-check: no file named\n" + try_help},
      {{"--text"}, 2, "", "no file named"},
      {{"--text", "f", "f"}, 2, "", "--text takes one file\n" + try_help},
      {{"--bogus", "f"}, 2, "", "'--bogus'"},
      {{"-x", "f"}, 2, "", "'x'"},
      {{"--text=yes", "f"}, 2, "", "'--text'"},
  };
  kt::TempDir dir;
  kt::write_file(dir.path("f"), record("abc"));
  for (const UsageCase &c : cases) {
    std::string shown;
    for (const std::string &a : c.args)
      shown += a + " ";
    SCOPED_TRACE("args: " + shown);
    RunResult r = run_check(c.args, dir.root);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.out.substr(0, c.out_begins.size()), c.out_begins);
    if (c.out_begins.empty()) {
      EXPECT_EQ(r.out, "");
    }
    if (c.err_has.empty()) {
      EXPECT_EQ(r.err, "");
    } else {
      EXPECT_NE(r.err.find(c.err_has), std::string::npos) << r.err;
    }
    if (c.status == 2) {
      EXPECT_NE(r.err.find(try_help), std::string::npos) << r.err;
    }
  }
}

TEST(CheckCommandLine, FilesThatCannotBeReadAreNamedWithTheReason) {
  kt::TempDir dir;
  kt::write_file(dir.path("good"), record("abc"));
  kt::write_file(dir.path("bad"), "00x9abc\r\n");
  std::filesystem::create_directory(dir.path("folder"));

  RunResult r = run_check({"good", "missing", "bad", "folder"}, dir.root);
  EXPECT_EQ(r.out, "good: ok, 1 record, 9 bytes, longest 9\n"
                   "bad: record 1 at byte 0: length field '00x9' is not four "
                   "digits\n");
  EXPECT_EQ(r.err, "kobrat-check: missing: No such file or directory\n"
                   "kobrat-check: folder: Is a directory\n");
  EXPECT_EQ(r.status, 2);

  r = run_check({"good", "bad"}, dir.root);
  EXPECT_EQ(r.status, 1);

  r = run_check({"--text", "missing"}, dir.root);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "kobrat-check: missing: No such file or directory\n");
  EXPECT_EQ(r.status, 2);
}

// Runs a shell command line in `cwd`; returns its exit status.
int shell(const std::string &cwd, const std::string &command) {
  int status = std::system(("cd '" + cwd + "' && " + command).c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(CheckCommandLine, AFullStandardOutputIsAFailure) {
  kt::TempDir dir;
  kt::write_file(dir.path("f"), record("abc"));
  const std::string binary = CHECK_BINARY;
  for (const char *option : {"--text ", ""}) {
    SCOPED_TRACE(option);
    EXPECT_EQ(
        shell(dir.root, "'" + binary + "' " + option + "f >/dev/full 2>err"),
        2);
    EXPECT_EQ(kt::read_file(dir.path("err")),
              "kobrat-check: standard output: No space left on device\n");
  }
}

} // namespace
