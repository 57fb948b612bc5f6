// The scanning kernel. The plain loop states the rule; the wide one gives
// the same answers sixteen bytes at a time.
#include "tool/scan.h"

#if defined(__x86_64__)
#include <emmintrin.h>
#endif

namespace {

constexpr unsigned char LF = 0x0A;
constexpr unsigned char CR = 0x0D;
constexpr unsigned char END_OF_TEXT = 0x1A;

bool is_special(unsigned char c) {
  return c == LF || c == CR || c == END_OF_TEXT;
}

} // namespace

std::size_t find_special_plain(const unsigned char *bytes, std::size_t count) {
  std::size_t i = 0;
  while (i < count && !is_special(bytes[i]))
    ++i;
  return i;
}

#if defined(__x86_64__)

std::size_t find_special_wide(const unsigned char *bytes, std::size_t count) {
  const __m128i lf = _mm_set1_epi8(static_cast<char>(LF));
  const __m128i cr = _mm_set1_epi8(static_cast<char>(CR));
  const __m128i eot = _mm_set1_epi8(static_cast<char>(END_OF_TEXT));
  std::size_t i = 0;
  for (; i + 16 <= count; i += 16) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(bytes + i));
    __m128i hit =
        _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, lf), _mm_cmpeq_epi8(v, cr)),
                     _mm_cmpeq_epi8(v, eot));
    int mask = _mm_movemask_epi8(hit);
    if (mask != 0)
      return i + static_cast<std::size_t>(__builtin_ctz(mask));
  }
  return i + find_special_plain(bytes + i, count - i);
}

#else

std::size_t find_special_wide(const unsigned char *bytes, std::size_t count) {
  return find_special_plain(bytes, count);
}

#endif

const FindSpecial find_special = find_special_wide;
