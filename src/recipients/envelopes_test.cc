#include "recipients/envelopes.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// envelopes_of - the sorted keys, one letter each, cut into envelopes:
// "AAAB" might come back as "AAA|B".
std::string envelopes_of(const std::string& keys, std::int32_t max_rcpts,
                         std::int32_t max_domains) {
  std::string cut;
  envelope_counts open;
  for (std::size_t i = 0; i < keys.size(); ++i) {
    if (opens_envelope(open, i > 0 && keys[i] == keys[i - 1], max_rcpts, max_domains) && i > 0)
      cut += '|';
    cut += keys[i];
  }
  return cut;
}

struct batch_case {
  const char* keys;
  std::int32_t max_rcpts;
  std::int32_t max_domains;
  const char* want;
};

constexpr batch_case batch_cases[] = {
    {"AAAABCCD", 3, 2, "AAA|AB|CCD"},  // the three envelopes of the worked example
    {"", 100, 20, ""},
    {"A", 100, 20, "A"},
    {"AAB", 1, 20, "A|A|B"},
    {"ABC", 1, 1, "A|B|C"},
    {"AAABBC", 2, 1, "AA|A|BB|C"},     // one key each; a big domain spans envelopes
    {"AAA", 3, 20, "AAA"},             // exactly max_rcpts
    {"AAAA", 3, 20, "AAA|A"},          // one more
    {"AAAAAA", 3, 20, "AAA|AAA"},
    {"ABCD", 10, 2, "AB|CD"},          // exactly max_domains twice
    {"ABCDE", 10, 2, "AB|CD|E"},
    {"AAB", 2, 5, "AA|B"},             // the recipient limit before the new key
    {"ABBB", 3, 2, "ABB|B"},           // and before the same key
    {"AABBCC", 6, 3, "AABBCC"},
};

TEST(opens_envelope, cuts_sorted_keys) {
  for (const auto& c : batch_cases)
    EXPECT_EQ(c.want, envelopes_of(c.keys, c.max_rcpts, c.max_domains))
        << '"' << c.keys << "\" max_rcpts " << c.max_rcpts << " max_domains " << c.max_domains;
}

}  // namespace
