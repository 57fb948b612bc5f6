// A libFuzzer target for the record encoder: the fuzz data gives the block
// sizes and the text; the text is fed to the encoder the way the converter
// feeds it, on every scanning path this processor has, and the records
// must be the model's (tests/model.h), byte for byte.
//
// The fuzz data:
//   byte 0        the number of block sizes, 1 + byte % 8
//   3 bytes each  a block size: scale = byte % 4, value = the next two bytes
//                 (low byte first); the size is 1 + value % 16, 256, 4,096
//                 or 65,536 for scales 0 to 3
//   the rest      the text, cut into blocks of those sizes in turn
//
// Each block is a heap copy of exactly its size, and the output buffer is
// exactly OUTPUT_BUFFER_ROOM bytes, so that AddressSanitizer reports any
// read past a block or write past the buffer. Each buffer written out
// before the end must hold whole records only and be past the threshold.
// A difference is printed and ends the run with abort(), which libFuzzer
// keeps as a crash input.
#include "model.h"
#include "tool/records.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr std::size_t MAX_SIZES = 8;
constexpr std::size_t SIZE_BYTES = 3;
constexpr std::size_t SCALES[] = {16, 256, 4096, 65536};

const char *path_name(ScanPath path) {
  switch (path) {
  case ScanPath::PLAIN:
    return "PLAIN";
  case ScanPath::SSE2:
    return "SSE2";
  case ScanPath::AVX2:
    return "AVX2";
  }
  return "?";
}

// What a check needs to say where it failed.
struct Run {
  ScanPath path;
  const std::vector<std::size_t> *sizes;
  const std::string *expected;
  const std::vector<bool> *record_ends; // where records end in `expected`
};

[[noreturn]] void fail(const Run &run, const char *what, std::size_t at) {
  std::fprintf(stderr,
               "fuzz_encoder: %s at output byte %zu, scan path %s, "
               "block sizes",
               what, at, path_name(run.path));
  for (std::size_t size : *run.sizes)
    std::fprintf(stderr, " %zu", size);
  std::fprintf(stderr, "\n");
  std::abort();
}

// Encodes `text` in blocks as the converter does and checks every buffer
// written out against the model's output.
void check_path(const Run &run, const std::string &text) {
  auto out = std::make_unique<unsigned char[]>(OUTPUT_BUFFER_ROOM);
  RecordEncoder encoder;
  encoder.scan = run.path;
  encoder_start(encoder, out.get());
  const std::string &expected = *run.expected;
  std::size_t written = 0;

  auto write_out = [&](bool last) {
    std::size_t count = encoder.fill;
    if (encoder.open)
      fail(run, "a buffer written out with an open record", written);
    if (!last && count <= FLUSH_THRESHOLD)
      fail(run, "a buffer written out before the threshold", written);
    if (count > expected.size() - written ||
        std::memcmp(out.get(), expected.data() + written, count) != 0)
      fail(run, "records unlike the model's", written);
    if (!(*run.record_ends)[written + count])
      fail(run, "a buffer that ends inside a record", written + count);
    written += count;
    encoder_drained(encoder);
  };

  const std::vector<std::size_t> &sizes = *run.sizes;
  std::size_t at = 0;
  for (std::size_t b = 0; at < text.size() && !encoder.ended; ++b) {
    std::size_t size = std::min(sizes[b % sizes.size()], text.size() - at);
    auto block = std::make_unique<unsigned char[]>(size);
    std::memcpy(block.get(), text.data() + at, size);
    std::size_t done = 0;
    while (done < size && !encoder.ended) {
      std::size_t used = encode_text(encoder, block.get() + done, size - done);
      if (used > size - done)
        fail(run, "more bytes used than given", written);
      done += used;
      if (encoder_full(encoder))
        write_out(false);
      else if (used == 0 && !encoder.ended)
        fail(run, "no progress on a block", written);
    }
    at += size;
  }
  encode_end(encoder);
  write_out(true);
  if (written != expected.size())
    fail(run, "output shorter than the model's", written);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data,
                                      std::size_t size) {
  if (size == 0)
    return 0;
  std::size_t count = 1 + data[0] % MAX_SIZES;
  if (size < 1 + count * SIZE_BYTES)
    return 0;
  std::vector<std::size_t> sizes;
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t *entry = data + 1 + i * SIZE_BYTES;
    std::size_t value = entry[1] | static_cast<std::size_t>(entry[2]) << 8;
    sizes.push_back(1 + value % SCALES[entry[0] % 4]);
  }
  std::size_t header = 1 + count * SIZE_BYTES;
  const std::string text(reinterpret_cast<const char *>(data) + header,
                         size - header);

  const std::vector<std::string> records = kt::model_records(text);
  std::string expected;
  std::vector<bool> record_ends(1, true);
  for (const std::string &r : records) {
    expected += r;
    record_ends.resize(expected.size() + 1, false);
    record_ends[expected.size()] = true;
  }
  for (ScanPath path : {ScanPath::PLAIN, ScanPath::SSE2, ScanPath::AVX2}) {
    if (!scan_path_available(path))
      continue;
    const Run run{path, &sizes, &expected, &record_ends};
    check_path(run, text);
  }
  return 0;
}
