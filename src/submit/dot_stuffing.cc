#include "submit/dot_stuffing.h"

#include <cstdint>

#ifdef __x86_64__
#include <immintrin.h>
#endif

namespace {

const char* scan_bytewise(const char* from, const char* end) {
  for (; from < end; ++from)
    if (*from == '.' && from[-1] == '\n') return from;
  return end;
}

#ifdef __x86_64__
// SSE2 is part of x86-64 itself: sixteen bytes at a time.
const char* scan_sse2(const char* from, const char* end) {
  const __m128i line_feed = _mm_set1_epi8('\n');
  const __m128i stop = _mm_set1_epi8('.');
  for (; end - from >= 16; from += 16) {
    __m128i before = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from - 1));
    __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
    int hits = _mm_movemask_epi8(
        _mm_and_si128(_mm_cmpeq_epi8(before, line_feed), _mm_cmpeq_epi8(here, stop)));
    if (hits) return from + __builtin_ctz(static_cast<unsigned>(hits));
  }
  return scan_bytewise(from, end);
}

// Sixty-four bytes at a time, each loaded once: the line feeds' mask,
// moved one place on, meets the stops' mask; the last byte's line feed
// carries into the next round.
__attribute__((target("avx2"))) const char* scan_avx2(const char* from, const char* end) {
  const __m256i line_feed = _mm256_set1_epi8('\n');
  const __m256i stop = _mm256_set1_epi8('.');
  std::uint64_t carry = from[-1] == '\n';
  for (; end - from >= 64; from += 64) {
    __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from));
    __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from + 32));
    std::uint64_t stops =
        static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(low, stop))) |
        static_cast<std::uint64_t>(static_cast<std::uint32_t>(
            _mm256_movemask_epi8(_mm256_cmpeq_epi8(high, stop)))) << 32;
    std::uint64_t line_feeds =
        static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(low, line_feed))) |
        static_cast<std::uint64_t>(static_cast<std::uint32_t>(
            _mm256_movemask_epi8(_mm256_cmpeq_epi8(high, line_feed)))) << 32;
    std::uint64_t hits = ((line_feeds << 1) | carry) & stops;
    if (hits) return from + __builtin_ctzll(hits);
    carry = line_feeds >> 63;
  }
  return scan_sse2(from, end);
}

bool has_avx2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2");
}
#endif

}  // namespace

const named_scanner line_start_stop_scanners[] = {
    {"bytewise", scan_bytewise, true},
#ifdef __x86_64__
    {"sse2", scan_sse2, true},
    {"avx2", scan_avx2, has_avx2()},
#endif
};
const std::size_t line_start_stop_scanner_count =
    sizeof line_start_stop_scanners / sizeof line_start_stop_scanners[0];

const line_start_stop_scanner next_line_start_stop =
#ifdef __x86_64__
    has_avx2() ? scan_avx2 : scan_sse2;
#else
    scan_bytewise;
#endif
