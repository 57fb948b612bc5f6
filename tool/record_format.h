// The record format: four ASCII digits giving the record's total length,
// the text, then CR LF. Shared by everything that writes or reads records.
#pragma once

#include <cstddef>

inline constexpr std::size_t PREFIX_SIZE = 4;
inline constexpr std::size_t RECORD_OVERHEAD = PREFIX_SIZE + 2; // + CR LF
// A line is read in pieces of at most this many characters (an LF counting
// as one); each piece is a record of its own.
inline constexpr std::size_t LINE_READ_LIMIT = 2048;
inline constexpr std::size_t PIECE_LIMIT = LINE_READ_LIMIT - 1;
inline constexpr std::size_t MIN_RECORD_SIZE = RECORD_OVERHEAD;
inline constexpr std::size_t MAX_RECORD_SIZE = PIECE_LIMIT + RECORD_OVERHEAD;

// The length a record's prefix gives, or -1 when the four bytes are not
// all ASCII digits.
constexpr int parse_length_prefix(const unsigned char *prefix) {
  int length = 0;
  for (std::size_t i = 0; i < PREFIX_SIZE; ++i) {
    if (prefix[i] < '0' || prefix[i] > '9')
      return -1;
    length = length * 10 + (prefix[i] - '0');
  }
  return length;
}

// A record that holds a full piece is continued by the next record: the
// line went on past the piece, or ended right after it (and the next record
// is then empty). Any shorter record ends its line.
constexpr bool continues_line(std::size_t record_size) {
  return record_size == MAX_RECORD_SIZE;
}
