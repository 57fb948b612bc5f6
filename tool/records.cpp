// The record encoder: one pass that copies the text of a line while it
// looks for the line's end, a four-digit prefix from a table, then CR LF.
#include "tool/records.h"

#include <array>
#include <cstdint>
#include <cstring>

namespace {

constexpr unsigned char LF = 0x0A;
constexpr unsigned char CR = 0x0D;

// "0000" to "2053": the prefix of every possible record length.
constexpr auto PREFIXES = [] {
  std::array<std::array<char, PREFIX_SIZE>, MAX_RECORD_SIZE + 1> table{};
  for (std::size_t n = 0; n <= MAX_RECORD_SIZE; ++n) {
    table[n] = {static_cast<char>('0' + n / 1000 % 10),
                static_cast<char>('0' + n / 100 % 10),
                static_cast<char>('0' + n / 10 % 10),
                static_cast<char>('0' + n % 10)};
  }
  return table;
}();

// The encoder's position, held in locals while a block is encoded, so that
// the stores into the buffer cannot be taken to change it.
struct Cursor {
  unsigned char *out;
  std::size_t fill;
  std::size_t open_at;
  bool open;
};

Cursor load(const RecordEncoder &e) {
  return {e.out, e.fill, e.open_at, e.open};
}

void store(RecordEncoder &e, const Cursor &c) {
  e.fill = c.fill;
  e.open_at = c.open_at;
  e.open = c.open;
}

inline void open_record(Cursor &c) {
  c.open_at = c.fill;
  c.fill += PREFIX_SIZE;
  c.open = true;
}

inline std::size_t piece_length(const Cursor &c) {
  return c.fill - c.open_at - PREFIX_SIZE;
}

// Writes the record's prefix and line end around `length` bytes of text.
inline void frame_record(unsigned char *record, std::size_t length) {
  std::memcpy(record, PREFIXES[length + RECORD_OVERHEAD].data(), PREFIX_SIZE);
  record[PREFIX_SIZE + length] = CR;
  record[PREFIX_SIZE + length + 1] = LF;
}

inline void close_record(Cursor &c) {
  frame_record(c.out + c.open_at, piece_length(c));
  c.fill += 2;
  c.open = false;
}

// Adds one character of text; a piece that reaches the limit ends there.
inline void put_char(Cursor &c, unsigned char ch) {
  if (!c.open)
    open_record(c);
  c.out[c.fill++] = ch;
  if (piece_length(c) == PIECE_LIMIT)
    close_record(c);
}

// A CR ended the last block: with an LF first in this one, the two are one
// line end; otherwise the CR is text. Returns the bytes it used.
inline std::size_t settle_cr(Cursor &c, const unsigned char *in) {
  if (in[0] != LF) {
    put_char(c, CR);
    return 0;
  }
  if (!c.open)
    open_record(c);
  close_record(c);
  return 1;
}

using CopyText = std::size_t (*)(unsigned char *, const unsigned char *,
                                 std::size_t);

// The common case in a loop of its own: whole lines, each ended by LF or
// CR LF within the piece limit, while more than a piece of the block is
// left. Stops at anything else (a lone CR, 0x1A, a long line, the block's
// end) and when the buffer is due to be written. Returns the bytes used.
template <CopyText copy_text>
inline std::size_t encode_whole_lines(Cursor &c, const unsigned char *in,
                                      std::size_t count) {
  unsigned char *const out = c.out;
  std::size_t fill = c.fill, i = 0;
  while (count - i > PIECE_LIMIT && fill <= FLUSH_THRESHOLD) {
    std::size_t k = copy_text(out + fill + PREFIX_SIZE, in + i, PIECE_LIMIT);
    std::size_t end = i + k; // the block goes on past `end`
    std::size_t ending;
    if (k == PIECE_LIMIT)
      break; // a piece of a long line
    if (in[end] == LF)
      ending = 1;
    else if (in[end] == CR && in[end + 1] == LF)
      ending = 2;
    else
      break;
    frame_record(out + fill, k);
    fill += k + RECORD_OVERHEAD;
    i = end + ending;
  }
  c.fill = fill;
  return i;
}

// A line longer than this is left to encode_step, which copies its text
// while it looks for its end, rather than looking first and copying after.
constexpr std::size_t LONG_LINE = 256;

using SpecialMask = std::uint64_t (*)(const unsigned char *);
using CopyBlock = void (*)(unsigned char *, const unsigned char *);

// The same common case for the wide kernels, many lines to a scan: the
// special bytes of 64 input bytes at a time are found at once, then each
// line between two of them is framed and its text copied in blocks of
// COPY_BLOCK bytes. Stays COPY_BLOCK bytes short of the block's end, so
// that no block of text is read from beyond it.
template <SpecialMask special_mask, CopyBlock copy_block>
inline std::size_t encode_whole_lines_masked(Cursor &c, const unsigned char *in,
                                             std::size_t count) {
  if (count < 64 + COPY_BLOCK)
    return 0;
  const std::size_t last_window = count - 64 - COPY_BLOCK;
  unsigned char *const out = c.out;
  std::size_t fill = c.fill, start = 0, window = 0;
  std::uint64_t mask = special_mask(in);
  while (fill <= FLUSH_THRESHOLD) {
    if (mask == 0) { // no line ends in this window: on to the next
      window += 64;
      if (window > last_window || window + 64 - start > LONG_LINE)
        break; // the block's end, or a long line
      mask = special_mask(in + window);
      if (start > window) // the LF of a CR LF that ended the last window
        mask &= ~std::uint64_t{0} << (start - window);
      continue;
    }
    std::size_t end = window + static_cast<std::size_t>(__builtin_ctzll(mask));
    std::size_t next;
    // The line end just used is dropped from the mask: its lowest bit, and
    // for a CR LF the next one too, which is the LF's unless the LF is in
    // the next window. Clearing the lowest bit keeps one line's end from
    // waiting on the last one's arithmetic.
    if (in[end] == LF) {
      next = end + 1;
      mask &= mask - 1;
    } else if (in[end] == CR && in[end + 1] == LF) {
      next = end + 2;
      mask &= mask - 1;
      mask &= mask - 1;
    } else {
      break; // a lone CR or 0x1A
    }
    std::size_t length = end - start;
    unsigned char *record = out + fill;
    for (std::size_t j = 0; j < length; j += COPY_BLOCK)
      copy_block(record + PREFIX_SIZE + j, in + start + j);
    frame_record(record, length);
    fill += length + RECORD_OVERHEAD;
    start = next;
  }
  c.fill = fill;
  return start;
}

// One step of the general case: text up to the next special byte or the
// piece limit, then what that byte means.
template <CopyText copy_text>
inline std::size_t encode_step(RecordEncoder &e, Cursor &c,
                               const unsigned char *in, std::size_t count) {
  if (!c.open)
    open_record(c);
  std::size_t span = PIECE_LIMIT - piece_length(c);
  if (span > count)
    span = count;
  std::size_t k = copy_text(c.out + c.fill, in, span);
  c.fill += k;
  if (k == span) {
    if (piece_length(c) == PIECE_LIMIT)
      close_record(c);
    return k;
  }
  switch (in[k]) {
  case LF:
    close_record(c);
    return k + 1;
  case CR:
    if (k + 1 == count) {
      e.pending_cr = true; // the next block tells what it is
      return count;
    }
    if (in[k + 1] == LF) {
      close_record(c);
      return k + 2;
    }
    put_char(c, CR);
    return k + 1;
  default: // 0x1A: the end of the input
    e.ended = true;
    return k;
  }
}

using WholeLines = std::size_t (*)(Cursor &, const unsigned char *,
                                   std::size_t);

// Encodes one block with one scanning kernel.
template <CopyText copy_text, WholeLines whole_lines>
inline std::size_t encode_with(RecordEncoder &e, const unsigned char *in,
                               std::size_t count) {
  Cursor c = load(e);
  std::size_t i = 0;
  if (e.pending_cr) {
    e.pending_cr = false;
    i = settle_cr(c, in);
  }
  while (i < count && !e.ended && (c.open || c.fill <= FLUSH_THRESHOLD)) {
    if (!c.open) {
      i += whole_lines(c, in + i, count - i);
      if (i == count || c.fill > FLUSH_THRESHOLD)
        break;
    }
    i += encode_step<copy_text>(e, c, in + i, count - i);
  }
  store(e, c);
  return i;
}

std::size_t encode_plain(RecordEncoder &e, const unsigned char *in,
                         std::size_t count) {
  return encode_with<copy_text_plain, encode_whole_lines<copy_text_plain>>(
      e, in, count);
}

#if defined(__x86_64__)

std::size_t encode_sse2(RecordEncoder &e, const unsigned char *in,
                        std::size_t count) {
  return encode_with<
      copy_text_sse2,
      encode_whole_lines_masked<special_mask_64_sse2, copy_block_sse2>>(e, in,
                                                                        count);
}

__attribute__((target("avx2"), flatten)) std::size_t
encode_avx2(RecordEncoder &e, const unsigned char *in, std::size_t count) {
  return encode_with<
      copy_text_avx2,
      encode_whole_lines_masked<special_mask_64_avx2, copy_block_avx2>>(e, in,
                                                                        count);
}

#endif

} // namespace

void encoder_start(RecordEncoder &encoder, unsigned char *out) {
  ScanPath scan = encoder.scan;
  encoder = RecordEncoder{};
  encoder.out = out;
  encoder.scan = scan;
}

std::size_t encode_text(RecordEncoder &e, const unsigned char *in,
                        std::size_t count) {
  if (e.ended || count == 0)
    return 0;
  switch (e.scan) {
#if defined(__x86_64__)
  case ScanPath::AVX2:
    return encode_avx2(e, in, count);
  case ScanPath::SSE2:
    return encode_sse2(e, in, count);
#endif
  default:
    return encode_plain(e, in, count);
  }
}

void encode_end(RecordEncoder &e) {
  Cursor c = load(e);
  if (e.pending_cr) {
    e.pending_cr = false;
    put_char(c, CR);
  }
  if (c.open) {
    if (piece_length(c) == 0) {
      c.fill = c.open_at; // no character came: there is no piece
      c.open = false;
    } else {
      close_record(c);
    }
  }
  store(e, c);
  e.ended = true;
}
