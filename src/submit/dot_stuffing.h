// dot_stuffing.h - the transparency rule with LF as the only line end.
//   next_line_start_stop(from, end)  the first full stop in [from, end) that
//                                    follows an LF; from[-1] must be readable.
//                                    AVX2 where the processor has it, else
//                                    SSE2, chosen once at start
//   line_start_stop_scanners         every version, so each can be tested
//   for_each_stuffed_piece(chunk, length, at_line_start, emit)
//       hands emit(bytes, length) the chunk's spans and, before each full
//       stop that starts a line, one extra stop; the chunk's first byte
//       starts a line when at_line_start. Returns whether the chunk ends in
//       LF, which is all that carries over to the next chunk.
// Nothing is copied here: the spans point into the chunk.
#pragma once

#include <cstddef>

using line_start_stop_scanner = const char* (*)(const char* from, const char* end);

struct named_scanner {
  const char* name;
  line_start_stop_scanner scan;
  bool usable;  // the processor runs it
};

extern const named_scanner line_start_stop_scanners[];
extern const std::size_t line_start_stop_scanner_count;

// The message is scanned once per envelope: the widest version is taken.
extern const line_start_stop_scanner next_line_start_stop;

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
