// The record encoder: text in, length-prefixed records out. Pure: it reads
// the bytes it is given and writes records into a buffer; it does no I/O.
//
// A record is four ASCII digits giving its total length (digits, text and
// CR LF), the text, then CR LF. The text of a line is read by these rules:
// CR LF is one LF, any other CR is text, 0x1A ends the input, and a line
// comes in pieces of at most 2,047 characters (an LF counting as one), each
// piece a record of its own. NUL bytes are text like any other.
#pragma once

#include "tool/record_format.h"
#include "tool/scan.h"

#include <cstddef>

inline constexpr std::size_t OUTPUT_BLOCK_SIZE = 65536;
inline constexpr std::size_t FLUSH_HEADROOM = 2048;
// The buffer is written out once a record takes its fill past this.
inline constexpr std::size_t FLUSH_THRESHOLD =
    OUTPUT_BLOCK_SIZE - FLUSH_HEADROOM;
// Text is copied in blocks of this many bytes; the bytes a block copies
// past the text are written over or never written out.
inline constexpr std::size_t COPY_BLOCK = 32;
// Room for a fill up to the threshold plus one largest record, and for the
// last copied block to run past it.
inline constexpr std::size_t OUTPUT_BUFFER_ROOM =
    FLUSH_THRESHOLD + MAX_RECORD_SIZE + COPY_BLOCK;

struct RecordEncoder {
  unsigned char *out = nullptr; // OUTPUT_BUFFER_ROOM bytes
  std::size_t fill = 0;         // bytes in `out`, the open record included
  std::size_t open_at = 0;      // where the open record starts
  bool open = false;            // a piece has begun and not ended
  bool pending_cr = false;      // a CR ended the last input; LF may follow
  bool ended = false;           // a 0x1A was read: nothing more is text
  ScanPath scan = best_scan_path();
};

void encoder_start(RecordEncoder &encoder, unsigned char *out);

// Encodes input bytes. Stops early when a record takes the fill past the
// threshold (the caller writes `fill` bytes and calls `encoder_drained`) or
// when a 0x1A ends the input. Returns how many bytes it consumed.
std::size_t encode_text(RecordEncoder &encoder, const unsigned char *in,
                        std::size_t count);

// True when the buffer holds whole records past the threshold.
inline bool encoder_full(const RecordEncoder &encoder) {
  return !encoder.open && encoder.fill > FLUSH_THRESHOLD;
}

// The bytes of whole records in the buffer: all but an open record's.
inline std::size_t encoder_whole_records(const RecordEncoder &encoder) {
  return encoder.open ? encoder.open_at : encoder.fill;
}

// The buffer was written out: it starts again empty.
inline void encoder_drained(RecordEncoder &encoder) { encoder.fill = 0; }

// The input has ended: a waiting CR becomes text and the open piece its
// record. Afterwards `fill` bytes of whole records remain to be written.
void encode_end(RecordEncoder &encoder);
