// The scanning kernel: copying text up to the next byte that the reader
// must look at (LF, CR or 0x1A). The plain loop states the rule; the wide
// ones give the same answers 16 or 32 bytes at a time.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

enum class ScanPath { PLAIN, SSE2, AVX2 };

// Whether this processor can take the path, and the fastest one it can.
bool scan_path_available(ScanPath path);
ScanPath best_scan_path();

// The kernel of `path`, called through a switch: for tests and tools; the
// encoder itself inlines the kernels.
std::size_t copy_text(ScanPath path, unsigned char *dst,
                      const unsigned char *src, std::size_t span);

inline bool is_special_byte(unsigned char c) {
  return c == 0x0A || c == 0x0D || c == 0x1A;
}

// Each kernel copies `src` to `dst` up to the first LF, CR or 0x1A among the
// `span` bytes and returns its index, or `span` when there is none. None
// reads or writes beyond `span` bytes.
inline std::size_t copy_text_plain(unsigned char *dst, const unsigned char *src,
                                   std::size_t span) {
  std::size_t i = 0;
  for (; i < span && !is_special_byte(src[i]); ++i)
    dst[i] = src[i];
  return i;
}

#if defined(__x86_64__)

// The special bytes of a 16-byte block, as a bit mask.
inline unsigned special_mask_16(__m128i v) {
  __m128i hit =
      _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(0x0A)),
                                _mm_cmpeq_epi8(v, _mm_set1_epi8(0x0D))),
                   _mm_cmpeq_epi8(v, _mm_set1_epi8(0x1A)));
  return static_cast<unsigned>(_mm_movemask_epi8(hit));
}

// Whole blocks are stored as loaded: the bytes copied past the special one
// are harmless, since the caller writes over them or never reads them.
inline std::size_t copy_text_sse2(unsigned char *dst, const unsigned char *src,
                                  std::size_t span) {
  std::size_t i = 0;
  for (; i + 16 <= span; i += 16) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(src + i));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + i), v);
    if (unsigned mask = special_mask_16(v))
      return i + static_cast<std::size_t>(__builtin_ctz(mask));
  }
  return i + copy_text_plain(dst + i, src + i, span - i);
}

// One block of 32 bytes of text, copied as it is.
inline void copy_block_sse2(unsigned char *dst, const unsigned char *src) {
  __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i *>(src));
  __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i *>(src + 16));
  _mm_storeu_si128(reinterpret_cast<__m128i *>(dst), low);
  _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + 16), high);
}

// The special bytes among the 64 at `src`, as a bit mask, bit 0 first.
inline std::uint64_t special_mask_64_sse2(const unsigned char *src) {
  std::uint64_t mask = 0;
  for (int i = 0; i < 4; ++i) {
    __m128i v =
        _mm_loadu_si128(reinterpret_cast<const __m128i *>(src + 16 * i));
    mask |= static_cast<std::uint64_t>(special_mask_16(v)) << (16 * i);
  }
  return mask;
}

__attribute__((target("avx2"))) inline std::uint32_t
special_mask_32(__m256i v) {
  __m256i hit = _mm256_or_si256(
      _mm256_or_si256(_mm256_cmpeq_epi8(v, _mm256_set1_epi8(0x0A)),
                      _mm256_cmpeq_epi8(v, _mm256_set1_epi8(0x0D))),
      _mm256_cmpeq_epi8(v, _mm256_set1_epi8(0x1A)));
  return static_cast<std::uint32_t>(_mm256_movemask_epi8(hit));
}

__attribute__((target("avx2"))) inline std::uint64_t
special_mask_64_avx2(const unsigned char *src) {
  __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(src));
  __m256i high =
      _mm256_loadu_si256(reinterpret_cast<const __m256i *>(src + 32));
  return special_mask_32(low) |
         static_cast<std::uint64_t>(special_mask_32(high)) << 32;
}

__attribute__((target("avx2"))) inline void
copy_block_avx2(unsigned char *dst, const unsigned char *src) {
  _mm256_storeu_si256(
      reinterpret_cast<__m256i *>(dst),
      _mm256_loadu_si256(reinterpret_cast<const __m256i *>(src)));
}

__attribute__((target("avx2"))) inline std::size_t
copy_text_avx2(unsigned char *dst, const unsigned char *src, std::size_t span) {
  std::size_t i = 0;
  for (; i + 64 <= span; i += 64) {
    __m256i low =
        _mm256_loadu_si256(reinterpret_cast<const __m256i *>(src + i));
    __m256i high =
        _mm256_loadu_si256(reinterpret_cast<const __m256i *>(src + i + 32));
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(dst + i), low);
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(dst + i + 32), high);
    std::uint64_t mask =
        special_mask_32(low) | std::uint64_t{special_mask_32(high)} << 32;
    if (mask != 0)
      return i + static_cast<std::size_t>(__builtin_ctzll(mask));
  }
  for (; i + 32 <= span; i += 32) {
    __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(src + i));
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(dst + i), v);
    if (std::uint32_t mask = special_mask_32(v))
      return i + static_cast<std::size_t>(__builtin_ctz(mask));
  }
  return i + copy_text_sse2(dst + i, src + i, span - i);
}

#endif
