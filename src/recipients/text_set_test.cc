#include "recipients/text_set.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

TEST(text_set, numbers_each_distinct_text_once) {
  static text_set set;  // reachable to the end, as the program's sets are
  // Prefixes of one another are distinct texts; enough of them to grow the
  // table several times over, every one looked up again afterwards.
  std::string text;
  for (std::uint32_t n = 0; n < 20000; ++n) {
    text = "d" + std::to_string(n);
    ASSERT_EQ(n, text_set_add(set, text.data(), text.size())) << text;
  }
  std::string answers;
  for (std::uint32_t n = 0; n < 20000; ++n) {
    text = "d" + std::to_string(n);
    if (text_set_add(set, text.data(), text.size()) != n || text != set.texts[n])
      answers += text + ' ';
  }
  EXPECT_EQ("", answers);
  EXPECT_EQ(20000u, set.count);
  EXPECT_EQ(20000u, text_set_add(set, "", 0));
  EXPECT_EQ(std::string(""), set.texts[20000]);
  EXPECT_EQ(0u, set.lengths[20000]);
  EXPECT_EQ(6u, set.lengths[19999]);

  // With its lookup table freed, the set builds it again from the texts.
  text_set_stop_adding(set);
  answers.clear();
  for (std::uint32_t n = 0; n < 20000; n += 7) {
    text = "d" + std::to_string(n);
    if (text_set_add(set, text.data(), text.size()) != n) answers += text + ' ';
  }
  EXPECT_EQ("", answers);
  EXPECT_EQ(20001u, text_set_add(set, "new", 3));
  EXPECT_EQ(20002u, set.count);
}

// Each row is added in turn to one set that ignores case: the number it
// gets and whether it is spelt as that number's text. Lengths around the
// word size and the slot's 20 bytes; bytes that differ by 0x20 without
// being ASCII letters stay apart.
TEST(text_set, ignoring_case_keeps_the_first_spelling) {
  static text_set set;
  set.ignore_case = true;
  struct row {
    const char* text;
    std::uint32_t number;
    bool exact;
  };
  const row rows[] = {
      {"ab", 0, true},           {"AB", 0, false},        {"aB", 0, false},
      {"ab", 0, true},           {"abc", 1, true},        {"ABCD", 2, true},
      {"abcd", 2, false},        {"Abcdefg", 3, true},    {"abcdefG", 3, false},
      {"abcdefgh", 4, true},     {"ABCDEFGH", 4, false},  {"abcdefghi", 5, true},
      {"abcdefghI", 5, false},   {"x[", 6, true},         {"x{", 7, true},
      {"X@", 8, true},           {"x`", 9, true},         {"\xc1", 10, true},
      {"\xe1", 11, true},        {"twenty-one-bytes-lonG", 12, true},
      {"twenty-one-bytes-long", 12, false},   {"twenty-one-bytes-lonh", 13, true},
      {"TWENTY-ONE-BYTES-LONH", 13, false},   {"", 14, true},
  };
  std::string got, want;
  for (const row& r : rows) {
    bool exact = !r.exact;
    std::uint32_t number = text_set_add(set, r.text, std::strlen(r.text), &exact);
    got += std::string(r.text) + ' ' + std::to_string(number) + (exact ? " exact\n" : "\n");
    want += std::string(r.text) + ' ' + std::to_string(r.number) + (r.exact ? " exact\n" : "\n");
  }
  EXPECT_EQ(want, got);
  EXPECT_EQ(std::string("twenty-one-bytes-lonG"), set.texts[12]);
}

}  // namespace
