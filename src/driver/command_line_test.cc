#include "driver/command_line.h"

#include <gtest/gtest.h>

TEST(is_all_digits, table) {
  struct { const char* text; bool want; } cases[] = {
      {"0", true}, {"007", true}, {"2147483648", true}, {"", false},
      {" 5", false}, {"+5", false}, {"-3", false}, {"5x", false},
      {"\xd9", false},  // a byte above 127 is no digit
  };
  for (const auto& c : cases) EXPECT_EQ(c.want, is_all_digits(c.text)) << '"' << c.text << '"';
}
