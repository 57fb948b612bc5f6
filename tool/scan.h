// Finding the bytes that the text reader must look at: LF, CR and 0x1A.
// Everything else is copied through as it is.
#pragma once

#include <cstddef>

// The index of the first LF, CR or 0x1A among the `count` bytes, or `count`
// when there is none.
using FindSpecial = std::size_t (*)(const unsigned char *bytes,
                                    std::size_t count);

// One byte at a time: the rule itself.
std::size_t find_special_plain(const unsigned char *bytes, std::size_t count);

// Sixteen bytes at a time with SSE2 (x86-64 only; elsewhere the plain loop).
std::size_t find_special_wide(const unsigned char *bytes, std::size_t count);

// The fastest of the above on this processor.
extern const FindSpecial find_special;
