// The record encoder alone: a table of cases, and a differential test
// against a byte-at-a-time model of the reading rules.
#include "harness.h"
#include "model.h"
#include "tool/records.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

using kt::model;
using kt::record;

// Runs the encoder over `input` cut into blocks of the given sizes (the
// last size repeats), the way the converter feeds it. Checks the flush rule
// on every write: whole records, and a fill past the threshold.
std::string encode(const std::string &input, std::vector<std::size_t> blocks,
                   ScanPath scan = best_scan_path()) {
  std::vector<unsigned char> buffer(OUTPUT_BUFFER_ROOM);
  RecordEncoder encoder;
  encoder.scan = scan;
  encoder_start(encoder, buffer.data());
  std::string output;
  auto write_out = [&](bool last) {
    std::string block(reinterpret_cast<char *>(buffer.data()), encoder.fill);
    EXPECT_TRUE(kt::whole_records(block));
    if (!last) {
      EXPECT_GT(encoder.fill, FLUSH_THRESHOLD);
    }
    output += block;
    encoder_drained(encoder);
  };
  const auto *in = reinterpret_cast<const unsigned char *>(input.data());
  std::size_t at = 0, b = 0;
  while (at < input.size() && !encoder.ended) {
    std::size_t size =
        std::min(blocks[std::min(b++, blocks.size() - 1)], input.size() - at);
    std::size_t done = 0;
    while (done < size && !encoder.ended) {
      done += encode_text(encoder, in + at + done, size - done);
      if (encoder_full(encoder))
        write_out(false);
    }
    at += size;
  }
  encode_end(encoder);
  EXPECT_FALSE(encoder.open) << "a record is left open after the end";
  if (encoder.fill > 0)
    write_out(true);
  return output;
}

std::string encode(const std::string &input) { return encode(input, {65536}); }

const ScanPath ALL_PATHS[] = {ScanPath::PLAIN, ScanPath::SSE2, ScanPath::AVX2};

struct Case {
  const char *name;
  std::string input;
  std::string expected;
};

std::string repeat(char c, std::size_t n) { return std::string(n, c); }

TEST(Encoder, TableOfCases) {
  const std::string a2047 = repeat('a', 2047);
  const Case cases[] = {
      {"empty input", "", ""},
      {"empty line CR LF", "\r\n", "0006\r\n"},
      {"empty line LF", "\n", "0006\r\n"},
      {"CR LF line", "abc\r\n", "0009abc\r\n"},
      {"LF line", "abc\n", "0009abc\r\n"},
      {"last line without LF", "abc", "0009abc\r\n"},
      {"lone CR stays", "a\rb\r\n", "0009a\rb\r\n"},
      {"CR ending the input stays", "abc\r", "0010abc\r\r\n"},
      {"CR CR LF", "a\r\r\n", "0008a\r\r\n"},
      {"0x1A ends the input",
       "ab\x1a"
       "cd\r\n",
       "0008ab\r\n"},
      {"0x1A first",
       "\x1a"
       "abc\n",
       ""},
      {"0x1A after CR", "ab\r\x1a\n", "0009ab\r\r\n"},
      {"0x1A after a line end", "ab\n\x1a", "0008ab\r\n"},
      {"0x1A first, CRs after it", "\x1a\x1e\r\r", ""},
      {"NUL kept in the text", std::string("ab\0cd\n", 6),
       std::string("0011ab\0cd\r\n", 11)},
      {"NUL first", std::string("\0\n", 2), std::string("0007\0\r\n", 7)},
      {"2,046 characters and LF", repeat('a', 2046) + "\n",
       "2052" + repeat('a', 2046) + "\r\n"},
      {"2,047 characters and LF", a2047 + "\n",
       "2053" + a2047 + "\r\n0006\r\n"},
      {"2,047 characters and CR LF", a2047 + "\r\n",
       "2053" + a2047 + "\r\n0006\r\n"},
      {"2,047 characters at the end", a2047, "2053" + a2047 + "\r\n"},
      {"2,046 characters and CR LF", repeat('a', 2046) + "\r\n",
       "2052" + repeat('a', 2046) + "\r\n"},
      {"2,046 characters, CR, text", repeat('a', 2046) + "\rb\n",
       "2053" + repeat('a', 2046) + "\r\r\n0007b\r\n"},
      {"3,000 characters", repeat('a', 3000) + "\n",
       "2053" + a2047 + "\r\n0959" + repeat('a', 953) + "\r\n"},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(encode(c.input), c.expected) << c.name;
    EXPECT_EQ(encode(c.input, {1}), c.expected) << c.name << ", byte blocks";
    EXPECT_EQ(model(c.input), c.expected) << c.name << ", model";
  }
}

TEST(Encoder, CrLfSplitAcrossBlocks) {
  // The CR ends one block and the LF starts the next.
  EXPECT_EQ(encode("abc\r\ndef\r\n", {4, 100}), "0009abc\r\n0009def\r\n");
  EXPECT_EQ(encode("abc\rdef\n", {4, 100}), "0013abc\rdef\r\n");
  EXPECT_EQ(encode("abc\r", {4}), "0010abc\r\r\n");
  EXPECT_EQ(encode(repeat('a', 2046) + "\r\n", {2047, 10}),
            "2052" + repeat('a', 2046) + "\r\n");
  EXPECT_EQ(encode(repeat('a', 2046) + "\rx", {2047, 10}),
            "2053" + repeat('a', 2046) + "\r\r\n0007x\r\n");
}

// The input in one large block through every scan path, against the model.
void every_path_agrees(const std::string &input, const std::string &what) {
  const std::string expected = model(input);
  for (ScanPath path : ALL_PATHS) {
    if (scan_path_available(path)) {
      ASSERT_EQ(encode(input, {65536}, path), expected)
          << what << ", scan path " << int(path);
    }
  }
}

TEST(Encoder, LinesOfEveryLengthAtEveryAlignment) {
  // Line ends land at every offset of the kernels' 16-, 32- and 64-byte
  // windows, a CR LF also across two of them; the longer lines pass the
  // length at which the wide paths stop taking lines whole (256) from
  // every offset.
  for (const char *ending : {"\n", "\r\n", "\r"}) {
    for (std::size_t length = 0; length <= 330; ++length) {
      std::string input;
      for (std::size_t i = 0; input.size() < 9000; ++i)
        input += std::string(length + i % 3, char('a' + i % 26)) + ending;
      ASSERT_NO_FATAL_FAILURE(every_path_agrees(
          input, "length " + std::to_string(length) + ", ending " +
                     std::to_string(std::strlen(ending))));
    }
  }
}

TEST(Encoder, LongLinesAmidOthersInOneBlock) {
  // Lines around the piece limit and its multiples, with text on both
  // sides inside one large block, so that the wide paths meet them in the
  // middle of their whole-line loop.
  for (const char *ending : {"\n", "\r\n"}) {
    for (std::size_t length : {2040, 2045, 2046, 2047, 2048, 2049, 2060, 3000,
                               4093, 4094, 4095, 4096, 6000}) {
      std::string input;
      for (std::size_t i = 0; input.size() < 40000; ++i) {
        input += std::string(i % 5, 'x') + ending; // short lines between
        input += std::string(length + i % 3, char('a' + i % 26)) + ending;
      }
      ASSERT_NO_FATAL_FAILURE(every_path_agrees(
          input, "length " + std::to_string(length) + ", ending " +
                     std::to_string(std::strlen(ending))));
    }
  }
}

TEST(Encoder, LargeOutputIsWrittenInWholeRecordBlocks) {
  std::string input;
  for (int i = 0; i < 20000; ++i)
    input += "line " + std::to_string(i) + "\r\n";
  EXPECT_EQ(encode(input), model(input));
  EXPECT_EQ(encode(input, {7, 65536, 3}), model(input));
}

// Random inputs built to hit the boundaries: lines around the piece limit,
// CRs at block ends, 0x1A and NUL bytes, blocks of every size.
std::string random_input(std::mt19937 &rng) {
  static const std::size_t lengths[] = {0,    1,    2,    15,   16,
                                        17,   2045, 2046, 2047, 2048,
                                        2049, 4094, 4095, 4096, 6000};
  std::string input;
  int lines = std::uniform_int_distribution<int>(0, 60)(rng);
  for (int l = 0; l < lines; ++l) {
    std::size_t length = lengths[rng() % std::size(lengths)];
    if (rng() % 4 == 0)
      length = rng() % 300;
    for (std::size_t i = 0; i < length; ++i) {
      unsigned r = rng() % 100;
      input += r < 4 ? '\r' : r < 6 ? '\0' : r < 7 ? '\n' : char('a' + r % 26);
    }
    if (rng() % 500 == 0)
      input += '\x1a';
    input += rng() % 3 == 0 ? "\n" : rng() % 2 ? "\r\n" : "\r";
  }
  return input;
}

std::vector<std::size_t> random_blocks(std::mt19937 &rng) {
  static const std::size_t sizes[] = {1, 2, 3, 16, 17, 2047, 2048, 65536};
  std::vector<std::size_t> blocks;
  for (int i = 0; i < 8; ++i)
    blocks.push_back(rng() % 2 ? sizes[rng() % std::size(sizes)]
                               : 1 + rng() % 5000);
  return blocks;
}

TEST(Encoder, AgreesWithTheModelOnRandomInputs) {
  std::mt19937 rng(20261211);
  for (int round = 0; round < 1500; ++round) {
    std::string input = random_input(rng);
    std::vector<std::size_t> blocks = random_blocks(rng);
    std::string expected = model(input);
    for (ScanPath path : ALL_PATHS) {
      if (scan_path_available(path)) {
        ASSERT_EQ(encode(input, blocks, path), expected)
            << "round " << round << ", scan path " << int(path);
      }
    }
  }
}

TEST(Scan, EveryPathFindsTheFirstSpecialByteAtEveryPosition) {
  // Filler of near misses: bytes one off the special ones, and with the
  // high bit set, which a signed comparison would confuse.
  const char near_misses[] = "\x09\x0b\x0c\x0e\x19\x1b\x8a\x8d\x9a\xff";
  for (unsigned char special : {'\n', '\r', '\x1a'}) {
    for (std::size_t length = 0; length <= 100; ++length) {
      for (std::size_t at = 0; at <= length; ++at) {
        std::string bytes;
        for (std::size_t i = 0; i < length; ++i)
          bytes += near_misses[i % (sizeof near_misses - 1)];
        if (at < length)
          bytes[at] = static_cast<char>(special);
        const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
        for (ScanPath path : ALL_PATHS) {
          if (!scan_path_available(path))
            continue;
          // The byte after the span must stay untouched.
          std::string copied(length + 1, '#');
          auto *d = reinterpret_cast<unsigned char *>(copied.data());
          ASSERT_EQ(copy_text(path, d, p, length), at)
              << "path " << int(path) << " length " << length << " at " << at;
          ASSERT_EQ(copied.substr(0, at), bytes.substr(0, at));
          ASSERT_EQ(copied[length], '#');
        }
      }
    }
  }
}

} // namespace
