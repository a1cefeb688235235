// prefrobnicate.h - reduce a written address to the bare address.
//   prefrobnicate(text)  drops comments, white space and any display name,
//                        keeps quoted strings and backslash pairs as written;
//                        result in a static buffer overwritten by the next
//                        call, or prefrobnicate_refused after writing
//                        "prefrobnicate: line too long \"%s\"\n" when the
//                        result would exceed 1023 bytes
//   prefrobnicate_view(text, length)  the same address with its length, for
//                        callers that measure it; it may point into `text`
//                        itself (nothing to drop), else into the static
//                        buffer. text[0] to text[length] must be readable;
//                        a NUL still ends the text wherever it lies
//   prefrobnicate_refused  the constant "" of a refusal, told apart from an
//                        empty address by its pointer
//   maybe_plain_end_bits(bytes)  (SSE2) a bit for each of 16 bytes that may
//                        end a plain run: up to space, quote, parenthesis,
//                        angle bracket, backslash; of the bytes below space
//                        only NUL and white space do, which the caller's
//                        exact test tells
// No allocation; the input is never written.
#pragma once

#include <cstddef>
#include <string_view>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

extern const char prefrobnicate_refused[];

const char* prefrobnicate(const char* text);
std::string_view prefrobnicate_view(const char* text, std::size_t length);

#ifdef __SSE2__
inline unsigned maybe_plain_end_bits(__m128i bytes) {
  __m128i hits = _mm_cmpeq_epi8(_mm_min_epu8(bytes, _mm_set1_epi8(' ')), bytes);
  hits = _mm_or_si128(hits, _mm_cmpeq_epi8(bytes, _mm_set1_epi8('"')));
  hits = _mm_or_si128(hits, _mm_cmpeq_epi8(bytes, _mm_set1_epi8('(')));
  hits = _mm_or_si128(hits, _mm_cmpeq_epi8(bytes, _mm_set1_epi8('<')));
  hits = _mm_or_si128(hits, _mm_cmpeq_epi8(bytes, _mm_set1_epi8('>')));
  hits = _mm_or_si128(hits, _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\\')));
  return static_cast<unsigned>(_mm_movemask_epi8(hits));
}
#endif
