// Choosing the scanning path for this processor.
#include "tool/scan.h"

bool scan_path_available(ScanPath path) {
  switch (path) {
  case ScanPath::PLAIN:
    return true;
#if defined(__x86_64__)
  case ScanPath::SSE2:
    return true;
  case ScanPath::AVX2:
    return __builtin_cpu_supports("avx2");
#else
  default:
    return false;
#endif
  }
  return false;
}

ScanPath best_scan_path() {
  static const ScanPath best =
      scan_path_available(ScanPath::AVX2)   ? ScanPath::AVX2
      : scan_path_available(ScanPath::SSE2) ? ScanPath::SSE2
                                            : ScanPath::PLAIN;
  return best;
}

#if defined(__x86_64__)
__attribute__((target("avx2"))) static std::size_t
copy_avx2(unsigned char *dst, const unsigned char *src, std::size_t span) {
  return copy_text_avx2(dst, src, span);
}
#endif

std::size_t copy_text(ScanPath path, unsigned char *dst,
                      const unsigned char *src, std::size_t span) {
  switch (path) {
#if defined(__x86_64__)
  case ScanPath::AVX2:
    return copy_avx2(dst, src, span);
  case ScanPath::SSE2:
    return copy_text_sse2(dst, src, span);
#endif
  default:
    return copy_text_plain(dst, src, span);
  }
}
