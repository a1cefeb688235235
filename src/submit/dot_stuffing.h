// dot_stuffing.h - the transparency rule with LF as the only line end.
//   next_line_start_stop(from, end)  the first full stop in [from, end) that
//                                    follows an LF; from[-1] must be readable
//   for_each_stuffed_piece(chunk, length, at_line_start, emit)
//       hands emit(bytes, length) the chunk's spans and, before each full
//       stop that starts a line, one extra stop; the chunk's first byte
//       starts a line when at_line_start. Returns whether the chunk ends in
//       LF, which is all that carries over to the next chunk.
// Nothing is copied here: the spans point into the chunk.
#pragma once

#include <cstddef>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

// Sixteen bytes at a time where SSE2 is there: the message is scanned once
// per envelope.
inline const char* next_line_start_stop(const char* from, const char* end) {
#ifdef __SSE2__
  const __m128i line_feed = _mm_set1_epi8('\n');
  const __m128i stop = _mm_set1_epi8('.');
  for (; end - from >= 16; from += 16) {
    __m128i before = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from - 1));
    __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
    int hits = _mm_movemask_epi8(
        _mm_and_si128(_mm_cmpeq_epi8(before, line_feed), _mm_cmpeq_epi8(here, stop)));
    if (hits) return from + __builtin_ctz(static_cast<unsigned>(hits));
  }
#endif
  for (; from < end; ++from)
    if (*from == '.' && from[-1] == '\n') return from;
  return end;
}

template <typename Emit>
bool for_each_stuffed_piece(const char* chunk, std::size_t length, bool at_line_start,
                            Emit emit) {
  static const char extra_stop = '.';
  const char* end = chunk + length;
  const char* span = chunk;  // first byte not yet handed on
  if (at_line_start && *chunk == '.') emit(&extra_stop, 1);
  for (const char* stop = chunk + 1; (stop = next_line_start_stop(stop, end)) < end; ++stop) {
    emit(span, static_cast<std::size_t>(stop - span));  // through the LF
    emit(&extra_stop, 1);
    span = stop;  // the line's own stop goes with the next span
  }
  emit(span, static_cast<std::size_t>(end - span));
  return end[-1] == '\n';
}
