// The record checker. A record that lies whole in the block it is given is
// checked where it lies: its field, its length, its last two bytes, and the
// text between is never looked at. A record cut by the end of a block is
// gathered into the checker's carry until it is whole.
#include "check/checker.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr unsigned char LF = 0x0A;
constexpr unsigned char CR = 0x0D;

// Room for one shown byte written as \xHH.
constexpr std::size_t ESCAPED_BYTE = 4;

void set_fault(RecordChecker &c, Fault fault, const unsigned char *shown,
               std::size_t shown_size) {
  c.fault = fault;
  std::memcpy(c.shown, shown, shown_size);
  c.shown_size = shown_size;
}

// Checks a length field of PREFIX_SIZE bytes and gives its length. Returns
// false, with the fault set, when it is no record length.
bool check_field(RecordChecker &c, const unsigned char *field,
                 std::size_t &length) {
  int value = parse_length_prefix(field);
  if (value < 0) {
    set_fault(c, Fault::NOT_DIGITS, field, PREFIX_SIZE);
    return false;
  }
  length = static_cast<std::size_t>(value);
  if (length < MIN_RECORD_SIZE) {
    set_fault(c, Fault::TOO_SHORT, field, PREFIX_SIZE);
    return false;
  }
  if (length > MAX_RECORD_SIZE) {
    set_fault(c, Fault::TOO_LONG, field, PREFIX_SIZE);
    return false;
  }
  return true;
}

// Checks that the whole record of `length` bytes ends in CR LF.
bool check_line_end(RecordChecker &c, const unsigned char *record,
                    std::size_t length) {
  const unsigned char *end = record + length - 2;
  if (end[0] == CR && end[1] == LF)
    return true;
  set_fault(c, Fault::NO_CR_LF, end, 2);
  return false;
}

Step accept(RecordChecker &c, const unsigned char *record, std::size_t length,
            CheckedRecord &out) {
  out.text = record + PREFIX_SIZE;
  out.text_size = length - RECORD_OVERHEAD;
  out.size = length;
  c.offset += length;
  ++c.records;
  if (length > c.longest)
    c.longest = length;
  return Step::RECORD;
}

// Moves bytes into the carry until it holds `want` bytes or the block is
// used up. Returns how many it moved.
std::size_t fill_carry(RecordChecker &c, const unsigned char *in,
                       std::size_t count, std::size_t want) {
  std::size_t take = want - c.carried;
  if (take > count)
    take = count;
  std::memcpy(c.carry + c.carried, in, take);
  c.carried += take;
  return take;
}

// Goes on with a record gathered across blocks: first its field, then the
// rest of it.
Step gather(RecordChecker &c, const unsigned char *in, std::size_t count,
            std::size_t &used, CheckedRecord &out) {
  used = 0;
  if (c.carried < PREFIX_SIZE) {
    used = fill_carry(c, in, count, PREFIX_SIZE);
    if (c.carried < PREFIX_SIZE)
      return Step::MORE;
    if (!check_field(c, c.carry, c.length))
      return Step::FAULT;
  }
  used += fill_carry(c, in + used, count - used, c.length);
  if (c.carried < c.length)
    return Step::MORE;
  c.carried = 0;
  if (!check_line_end(c, c.carry, c.length))
    return Step::FAULT;
  return accept(c, c.carry, c.length, out);
}

bool all_digits(const unsigned char *bytes, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i)
    if (bytes[i] < '0' || bytes[i] > '9')
      return false;
  return true;
}

// Writes the bytes between single quotes as printable ASCII, with \xHH for
// any other byte and a backslash before a backslash or a quote.
void quote_bytes(const unsigned char *bytes, std::size_t count, char *text) {
  *text++ = '\'';
  for (std::size_t i = 0; i < count; ++i) {
    unsigned char b = bytes[i];
    if (b == '\\' || b == '\'') {
      *text++ = '\\';
      *text++ = static_cast<char>(b);
    } else if (b >= 0x20 && b < 0x7F) {
      *text++ = static_cast<char>(b);
    } else {
      std::snprintf(text, ESCAPED_BYTE + 1, "\\x%02X", b);
      text += ESCAPED_BYTE;
    }
  }
  *text++ = '\'';
  *text = '\0';
}

void describe_past_end(const RecordChecker &c, const char *field, char *text,
                       std::size_t size) {
  const char *bytes = c.left == 1 ? "byte" : "bytes";
  if (c.shown_size < PREFIX_SIZE)
    std::snprintf(text, size,
                  "record runs past the end of the file (%zu %s left)", c.left,
                  bytes);
  else
    std::snprintf(text, size,
                  "record runs past the end of the file (length %s, %zu %s "
                  "left)",
                  field, c.left, bytes);
}

} // namespace

void checker_start(RecordChecker &checker) {
  checker.offset = 0;
  checker.records = 0;
  checker.longest = 0;
  checker.carried = 0;
  checker.length = 0;
  checker.fault = Fault::NONE;
  checker.shown_size = 0;
  checker.left = 0;
}

Step next_record(RecordChecker &c, const unsigned char *in, std::size_t count,
                 std::size_t &used, CheckedRecord &out) {
  used = 0;
  if (c.fault != Fault::NONE)
    return Step::FAULT;
  if (c.carried == 0 && count >= PREFIX_SIZE) {
    std::size_t length = 0;
    if (!check_field(c, in, length))
      return Step::FAULT;
    if (length <= count) {
      if (!check_line_end(c, in, length))
        return Step::FAULT;
      used = length;
      return accept(c, in, length, out);
    }
  }
  return gather(c, in, count, used, out);
}

bool checker_end(RecordChecker &c) {
  if (c.fault != Fault::NONE)
    return false;
  if (c.carried == 0)
    return true;
  std::size_t field = c.carried < PREFIX_SIZE ? c.carried : PREFIX_SIZE;
  if (all_digits(c.carry, field))
    set_fault(c, Fault::PAST_END, c.carry, field);
  else // a field cut short that is no number even so far
    set_fault(c, Fault::NOT_DIGITS, c.carry, field);
  c.left = c.carried;
  return false;
}

void describe_fault(const RecordChecker &c, char *text, std::size_t size) {
  char shown[2 + PREFIX_SIZE * ESCAPED_BYTE + 1];
  quote_bytes(c.shown, c.shown_size, shown);
  // The length as written; its field holds digits only in these cases.
  char field[PREFIX_SIZE + 1] = {};
  std::memcpy(field, c.shown, c.shown_size);
  switch (c.fault) {
  case Fault::NOT_DIGITS:
    std::snprintf(text, size, "length field %s is not four digits", shown);
    return;
  case Fault::TOO_SHORT:
    std::snprintf(text, size, "length %s is below the smallest record, %zu",
                  field, MIN_RECORD_SIZE);
    return;
  case Fault::TOO_LONG:
    std::snprintf(text, size, "length %s is above the largest record, %zu",
                  field, MAX_RECORD_SIZE);
    return;
  case Fault::PAST_END:
    describe_past_end(c, field, text, size);
    return;
  case Fault::NO_CR_LF:
    std::snprintf(text, size, "does not end in CR LF (ends in %s)", shown);
    return;
  case Fault::NONE:
    break;
  }
  std::snprintf(text, size, "no fault");
}
