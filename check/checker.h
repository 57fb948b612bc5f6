// The record checker: bytes in, verdict out. Pure: it reads the bytes it is
// given and keeps a small state between calls, so a file can be fed to it
// in blocks of any size; it does no I/O and allocates nothing.
//
// A sound record is four ASCII digits giving its total length, at least
// MIN_RECORD_SIZE and at most MAX_RECORD_SIZE, that many bytes present,
// the last two of them CR LF. The checker stops at the first record that
// is not sound and describes what is wrong with it.
#pragma once

#include "tool/record_format.h"

#include <cstddef>
#include <cstdint>

enum class Fault {
  NONE,
  NOT_DIGITS, // the length field is not four ASCII digits
  TOO_SHORT,  // the length is below MIN_RECORD_SIZE
  TOO_LONG,   // the length is above MAX_RECORD_SIZE
  PAST_END,   // the file ends inside the record
  NO_CR_LF,   // the record's last two bytes are not CR LF
};

struct RecordChecker {
  std::uint64_t offset = 0;  // where the record being read starts
  std::uint64_t records = 0; // sound records so far
  std::size_t longest = 0;   // the longest sound record
  // A record that a block boundary cut: its bytes so far, gathered here.
  unsigned char carry[MAX_RECORD_SIZE];
  std::size_t carried = 0;
  std::size_t length = 0; // the carried record's length, once its field is in
  Fault fault = Fault::NONE;
  // For the report: the length field or the last bytes of the faulty
  // record (`shown_size` of them) and how many bytes were left of the file.
  unsigned char shown[PREFIX_SIZE];
  std::size_t shown_size = 0;
  std::size_t left = 0;
};

// One sound record: where its text is and how long the whole record is.
// The text stays valid until the next call on the checker.
struct CheckedRecord {
  const unsigned char *text = nullptr;
  std::size_t text_size = 0;
  std::size_t size = 0;
};

enum class Step {
  RECORD, // a sound record was read: see the CheckedRecord
  MORE,   // every byte given was taken; the next block is needed
  FAULT,  // the record at `offset` is not sound: see `fault`
};

void checker_start(RecordChecker &checker);

// Reads the next record from the `count` bytes at `in`, taking what it
// reads; `used` tells how many bytes it took.
Step next_record(RecordChecker &checker, const unsigned char *in,
                 std::size_t count, std::size_t &used, CheckedRecord &record);

// The input has ended. Returns true when it ended between records; false
// when a record was cut short (the fault is then set).
bool checker_end(RecordChecker &checker);

// The bytes of all sound records so far.
inline std::uint64_t checked_bytes(const RecordChecker &checker) {
  return checker.offset;
}

// Describes the fault, e.g. "length field '00x9' is not four digits", in
// `text` (of `size` bytes, 96 are enough), cut to fit. Bytes other than
// printable ASCII in a shown field appear as \xHH.
void describe_fault(const RecordChecker &checker, char *text, std::size_t size);
