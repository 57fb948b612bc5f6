// The record encoder: a scan for the next special byte, one copy of the
// text before it, and a four-digit prefix from a table.
#include "tool/records.h"

#include <array>
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

void open_record(RecordEncoder &e) {
  e.open_at = e.fill;
  e.fill += PREFIX_SIZE;
  e.open = true;
}

std::size_t piece_length(const RecordEncoder &e) {
  return e.fill - e.open_at - PREFIX_SIZE;
}

void close_record(RecordEncoder &e) {
  std::size_t length = piece_length(e) + RECORD_OVERHEAD;
  std::memcpy(e.out + e.open_at, PREFIXES[length].data(), PREFIX_SIZE);
  e.out[e.fill++] = CR;
  e.out[e.fill++] = LF;
  e.open = false;
}

// Adds one character of text; a piece that reaches the limit ends there.
void put_char(RecordEncoder &e, unsigned char c) {
  if (!e.open)
    open_record(e);
  e.out[e.fill++] = c;
  if (piece_length(e) == PIECE_LIMIT)
    close_record(e);
}

// An LF ends the piece it is read into (an empty one if none is open).
void put_line_end(RecordEncoder &e) {
  if (!e.open)
    open_record(e);
  close_record(e);
}

// Settles a CR that ended the previous input: with an LF after it, the two
// are one line end; otherwise the CR is text. Returns the bytes consumed.
std::size_t settle_cr(RecordEncoder &e, const unsigned char *in) {
  e.pending_cr = false;
  if (in[0] == LF) {
    put_line_end(e);
    return 1;
  }
  put_char(e, CR);
  return 0;
}

} // namespace

void encoder_start(RecordEncoder &encoder, unsigned char *out) {
  FindSpecial find = encoder.find;
  encoder = RecordEncoder{};
  encoder.out = out;
  encoder.find = find;
}

std::size_t encode_text(RecordEncoder &e, const unsigned char *in,
                        std::size_t count) {
  std::size_t i = 0;
  if (e.ended || count == 0)
    return 0;
  if (e.pending_cr) {
    i = settle_cr(e, in);
    if (encoder_full(e))
      return i;
  }
  while (i < count) {
    if (!e.open)
      open_record(e);
    std::size_t span = PIECE_LIMIT - piece_length(e);
    if (span > count - i)
      span = count - i;
    std::size_t k = e.find(in + i, span);
    std::memcpy(e.out + e.fill, in + i, k);
    e.fill += k;
    i += k;
    if (k == span) {
      if (piece_length(e) == PIECE_LIMIT)
        close_record(e);
    } else if (in[i] == LF) {
      ++i;
      close_record(e);
    } else if (in[i] == CR) {
      if (i + 1 == count) {
        e.pending_cr = true;
        return count;
      }
      if (in[i + 1] == LF) {
        i += 2;
        close_record(e);
      } else {
        ++i;
        put_char(e, CR);
      }
    } else { // 0x1A
      e.ended = true;
      return i;
    }
    if (encoder_full(e))
      return i;
  }
  return i;
}

void encode_end(RecordEncoder &e) {
  if (e.pending_cr) {
    e.pending_cr = false;
    put_char(e, CR);
  }
  if (e.open) {
    if (piece_length(e) == 0)
      e.fill = e.open_at; // no character came: there is no piece
    else
      close_record(e);
  }
  e.ended = true;
}
