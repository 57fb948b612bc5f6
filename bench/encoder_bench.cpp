// The record encoder's speed, alone: no files, no system calls. Each input
// is made here from a fixed seed and fed in the blocks the tool reads, the
// buffer drained whenever it fills and the input ended, as convert.cpp does.
//
//   encode/<input>/<scan>  the encoder with each scanning kernel (plain,
//                          sse2, avx2 where the processor has it)
//   scan/<input>/<scan>    the kernel alone, from one special byte to the next
//   copy/<input>           a memcpy of the same blocks: the floor
//
// The inputs:
//   digits8      8-byte lines: seven digits and LF (numbers, one per line)
//   text40_lf    40-byte lines: 39 printable characters and LF
//   text40_crlf  40-byte lines: 38 printable characters and CR LF
//   long         lines of 1,000 to 6,000 printable characters and LF: one to
//                three records each, pieces of at most 2,047 characters
#include "tool/records.h"
#include "tool/scan.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

// Bytes of each input; the last line may take it a little past.
constexpr std::size_t INPUT_SIZE = std::size_t{8} << 20;
// What the tool reads at a time: INPUT_BLOCK_SIZE of tool/run.h.
constexpr std::size_t READ_BLOCK = 65536;

constexpr unsigned char LF = 0x0A;
constexpr unsigned char CR = 0x0D;

enum class Shape { DIGITS8, TEXT40_LF, TEXT40_CRLF, LONG, COUNT };

struct Input {
  std::vector<unsigned char> bytes;
  std::size_t lines = 0;
  std::size_t records_size = 0; // what the encoder must make of it
};

// splitmix64: the same numbers on every platform and library.
class Random {
public:
  explicit Random(std::uint64_t seed) : state_(seed) {}
  std::uint64_t next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15u);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
    return z ^ (z >> 31);
  }
  std::size_t below(std::size_t n) { return next() % n; }
  // ' ' to '~': never a byte the scan stops at.
  unsigned char printable() {
    return static_cast<unsigned char>(0x20 + below(95));
  }

private:
  std::uint64_t state_;
};

// The records a line of `text` characters becomes: pieces of at most
// PIECE_LIMIT characters, its line end counting as one.
std::size_t records_size(std::size_t text) {
  std::size_t pieces = (text + 1 + PIECE_LIMIT - 1) / PIECE_LIMIT;
  return text + pieces * RECORD_OVERHEAD;
}

void add_text_line(Input &input, Random &random, std::size_t text, bool cr_lf) {
  for (std::size_t i = 0; i < text; ++i)
    input.bytes.push_back(random.printable());
  if (cr_lf)
    input.bytes.push_back(CR);
  input.bytes.push_back(LF);
  input.records_size += records_size(text);
  ++input.lines;
}

void add_number_line(Input &input, std::uint32_t number) {
  std::array<unsigned char, 8> line{};
  for (std::size_t i = 7; i-- > 0; number /= 10)
    line[i] = static_cast<unsigned char>('0' + number % 10);
  line[7] = LF;
  input.bytes.insert(input.bytes.end(), line.begin(), line.end());
  input.records_size += records_size(7);
  ++input.lines;
}

std::unique_ptr<Input> make_input(Shape shape) {
  auto input = std::make_unique<Input>();
  input->bytes.reserve(INPUT_SIZE + 8192);
  Random random(0x4B4F42524154u + static_cast<std::uint64_t>(shape));
  std::uint32_t number = 1000000;
  while (input->bytes.size() < INPUT_SIZE) {
    switch (shape) {
    case Shape::DIGITS8:
      add_number_line(*input, number++);
      break;
    case Shape::TEXT40_LF:
      add_text_line(*input, random, 39, false);
      break;
    case Shape::TEXT40_CRLF:
      add_text_line(*input, random, 38, true);
      break;
    case Shape::LONG:
      add_text_line(*input, random, 1000 + random.below(5001), false);
      break;
    case Shape::COUNT:
      return input;
    }
  }
  return input;
}

// Each input is made once, when a benchmark first needs it.
const Input &input_of(Shape shape) {
  static std::array<std::unique_ptr<Input>,
                    static_cast<std::size_t>(Shape::COUNT)>
      made;
  auto &slot = made[static_cast<std::size_t>(shape)];
  if (!slot)
    slot = make_input(shape);
  return *slot;
}

// The buffer "written out": its bytes counted and the buffer emptied.
std::size_t drain(RecordEncoder &encoder) {
  benchmark::DoNotOptimize(encoder.out);
  benchmark::ClobberMemory();
  std::size_t written = encoder.fill;
  encoder_drained(encoder);
  return written;
}

// The tool's loop over the whole input. Returns the bytes of records made.
std::size_t encode_all(RecordEncoder &encoder, unsigned char *out,
                       const Input &input) {
  encoder_start(encoder, out);
  std::size_t written = 0;
  const unsigned char *next = input.bytes.data();
  std::size_t left = input.bytes.size();
  while (left > 0 && !encoder.ended) {
    std::size_t block = std::min(left, READ_BLOCK);
    const unsigned char *in = next;
    std::size_t count = block;
    while (count > 0 && !encoder.ended) {
      std::size_t used = encode_text(encoder, in, count);
      in += used;
      count -= used;
      if (encoder_full(encoder))
        written += drain(encoder);
    }
    next += block;
    left -= block;
  }
  encode_end(encoder);
  written += drain(encoder);
  return written;
}

void report(benchmark::State &state, const Input &input) {
  auto runs = static_cast<double>(state.iterations());
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(input.bytes.size()));
  state.counters["lines"] = benchmark::Counter(
      runs * static_cast<double>(input.lines), benchmark::Counter::kIsRate);
}

void encode(benchmark::State &state, Shape shape, ScanPath path) {
  const Input &input = input_of(shape);
  std::vector<unsigned char> out(OUTPUT_BUFFER_ROOM);
  RecordEncoder encoder;
  encoder.scan = path;
  // A run that makes other records than these measures something else.
  if (encode_all(encoder, out.data(), input) != input.records_size) {
    state.SkipWithError("the records made are not the ones expected");
    return;
  }
  for (auto _ : state)
    benchmark::DoNotOptimize(encode_all(encoder, out.data(), input));
  report(state, input);
  state.counters["out/in"] = static_cast<double>(input.records_size) /
                             static_cast<double>(input.bytes.size());
}

// The scanning kernel alone, from each special byte to the next, in the
// same blocks, copying the text between them as the encoder does.
void scan(benchmark::State &state, Shape shape, ScanPath path) {
  const Input &input = input_of(shape);
  std::vector<unsigned char> out(READ_BLOCK);
  for (auto _ : state) {
    std::size_t found = 0;
    for (std::size_t at = 0; at < input.bytes.size(); at += READ_BLOCK) {
      const unsigned char *in = input.bytes.data() + at;
      std::size_t count = std::min(READ_BLOCK, input.bytes.size() - at);
      for (;;) {
        std::size_t k = copy_text(path, out.data(), in, count);
        if (k == count)
          break;
        ++found;
        in += k + 1;
        count -= k + 1;
      }
    }
    benchmark::DoNotOptimize(found);
  }
  report(state, input);
}

// The same blocks copied into a buffer of the encoder's size.
void copy(benchmark::State &state, Shape shape) {
  const Input &input = input_of(shape);
  std::vector<unsigned char> out(OUTPUT_BUFFER_ROOM);
  for (auto _ : state) {
    for (std::size_t at = 0; at < input.bytes.size(); at += READ_BLOCK) {
      std::size_t count = std::min(READ_BLOCK, input.bytes.size() - at);
      std::memcpy(out.data(), input.bytes.data() + at, count);
      benchmark::DoNotOptimize(out.data());
      benchmark::ClobberMemory();
    }
  }
  report(state, input);
}

struct Named {
  const char *name;
  Shape shape;
};
constexpr std::array<Named, 4> INPUTS = {{{"digits8", Shape::DIGITS8},
                                          {"text40_lf", Shape::TEXT40_LF},
                                          {"text40_crlf", Shape::TEXT40_CRLF},
                                          {"long", Shape::LONG}}};

struct NamedScan {
  const char *name;
  ScanPath path;
};
const std::array<NamedScan, 3> SCANS = {{{"plain", ScanPath::PLAIN},
                                         {"sse2", ScanPath::SSE2},
                                         {"avx2", ScanPath::AVX2}}};

bool register_all() {
  for (const auto &input : INPUTS)
    for (const auto &way : SCANS)
      if (scan_path_available(way.path))
        benchmark::RegisterBenchmark(
            (std::string("encode/") + input.name + "/" + way.name).c_str(),
            encode, input.shape, way.path);
  for (const auto &input : INPUTS)
    for (const auto &way : SCANS)
      if (scan_path_available(way.path))
        benchmark::RegisterBenchmark(
            (std::string("scan/") + input.name + "/" + way.name).c_str(), scan,
            input.shape, way.path);
  for (const auto &input : INPUTS)
    benchmark::RegisterBenchmark((std::string("copy/") + input.name).c_str(),
                                 copy, input.shape);
  return true;
}

[[maybe_unused]] const bool registered = register_all();

} // namespace
