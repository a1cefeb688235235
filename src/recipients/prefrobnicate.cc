#include "recipients/prefrobnicate.h"

#include <array>
#include <cstddef>
#include <cstdio>
#include <cstring>

const char prefrobnicate_refused[] = "";

namespace {

constexpr std::size_t canonical_buffer_bytes = 1024;
constexpr std::size_t longest_result_bytes = canonical_buffer_bytes - 1;

char canonical_buffer[canonical_buffer_bytes];

// Each state between angle brackets is its outer twin plus 3; the comment
// and quote states fall back to the twin they came from.
enum scan_state {
  top_level = 0,
  in_comment = 1,
  in_quotes = 2,
  in_route = 3,
  in_route_comment = 4,
  in_route_quotes = 5,
};

constexpr bool is_white(unsigned char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// plain_bytes - what top_level and in_route copy without a decision: all but
// NUL, white space, angle brackets, opening parenthesis, quote and backslash.
// Most list lines are made of nothing else, so they take the short loop.
constexpr auto plain_bytes = [] {
  std::array<bool, 256> plain{};
  for (int c = 1; c < 256; ++c)
    plain[c] = !is_white(static_cast<unsigned char>(c)) && c != '<' && c != '>' &&
               c != '(' && c != '"' && c != '\\';
  return plain;
}();

const char* refuse(const char* text) {
  std::fprintf(stderr, "prefrobnicate: line too long \"%s\"\n", text);
  return prefrobnicate_refused;
}

// scan - the canonical address of `text` into canonical_buffer, NUL-ended,
// its length in `result_length`; the scan starts at top level from `in`,
// with the `length` bytes before it already copied.
const char* scan(const char* text, const unsigned char* in, std::size_t length,
                 std::size_t* result_length) {
  char* out = canonical_buffer;
  int state = top_level;
  int comment_depth = 0;

  // The length test comes before every byte, whatever the byte would do, so
  // a full buffer refuses even white space or a closing bracket. A backslash
  // pair taken at length 1022 is the one way past 1023; the end test sees it.
  for (; *in; ++in) {
    if (state == top_level || state == in_route) {
      for (; plain_bytes[*in]; ++in) {
        if (length >= longest_result_bytes) return refuse(text);
        out[length++] = static_cast<char>(*in);
      }
      if (!*in) break;
    }
    if (length >= longest_result_bytes) return refuse(text);
    unsigned char c = *in;
    switch (state) {
      case top_level:
      case in_route:
        if (c == '<') {
          if (state == in_route) {
            out[length++] = static_cast<char>(c);
          } else {
            length = 0;  // the display name goes
            state = in_route;
          }
        } else if (c == '>') {
          if (state == in_route) goto scan_ended;  // the first route wins
          out[length++] = static_cast<char>(c);
        } else if (c == '(') {
          comment_depth = 1;
          state += in_comment;
        } else if (c == '"') {
          out[length++] = static_cast<char>(c);
          state += in_quotes;
        } else if (c == '\\') {
          out[length++] = static_cast<char>(c);
          if (in[1]) out[length++] = static_cast<char>(*++in);
        } else if (!is_white(c)) {
          out[length++] = static_cast<char>(c);
        }
        break;
      case in_quotes:
      case in_route_quotes:
        out[length++] = static_cast<char>(c);
        if (c == '"')
          state -= in_quotes;
        else if (c == '\\' && in[1])
          out[length++] = static_cast<char>(*++in);
        break;
      default:  // in_comment, in_route_comment
        if (c == '(') {
          ++comment_depth;
        } else if (c == ')') {
          if (--comment_depth == 0) state -= in_comment;
        } else if (c == '\\' && in[1]) {
          ++in;
        }
        break;
    }
  }
scan_ended:
  if (length > longest_result_bytes) return refuse(text);
  out[length] = '\0';
  *result_length = length;
  return canonical_buffer;
}

// first_maybe_special - where the plain run at the start of text[0, length)
// may end: the first byte up to space, quote, parenthesis, angle bracket or
// backslash, else `length`. Sixteen bytes at a time, the last round
// overlapping the one before, so nothing past `length` is read; a shorter
// text gets 0. The bytes below space that are plain after all (all but
// NUL and white space) are left to the table, which has the last word.
std::size_t first_maybe_special(const char* text, std::size_t length) {
#ifdef __SSE2__
  if (length < 16) return 0;
  auto hits_at = [text](std::size_t at) {
    return maybe_plain_end_bits(_mm_loadu_si128(reinterpret_cast<const __m128i*>(text + at)));
  };
  std::size_t at = 0;
  for (; at + 16 <= length; at += 16)
    if (unsigned hits = hits_at(at)) return at + __builtin_ctz(hits);
  if (at < length)
    if (unsigned hits = hits_at(length - 16)) return length - 16 + __builtin_ctz(hits);
  return length;
#else
  (void)text;
  (void)length;
  return 0;
#endif
}

}  // namespace

const char* prefrobnicate(const char* text) {
  std::size_t length;
  return scan(text, reinterpret_cast<const unsigned char*>(text), 0, &length);
}

std::string_view prefrobnicate_view(const char* text, std::size_t length) {
  // Most list lines are bare addresses: nothing to drop, so no copy.
  const auto* in = reinterpret_cast<const unsigned char*>(text);
  std::size_t plain = first_maybe_special(text, length);
  while (plain_bytes[in[plain]]) ++plain;
  if (in[plain] == '\0' && plain <= longest_result_bytes) return {text, plain};
  // The scan would refuse before its next byte.
  if (plain >= longest_result_bytes) return {refuse(text), 0};
  std::memcpy(canonical_buffer, text, plain);
  std::size_t result_length;
  const char* result = scan(text, in + plain, plain, &result_length);
  return {result, result == prefrobnicate_refused ? 0 : result_length};
}
