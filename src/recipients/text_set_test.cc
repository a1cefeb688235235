#include "recipients/text_set.h"

#include <gtest/gtest.h>

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
}

}  // namespace
