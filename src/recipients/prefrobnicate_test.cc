#include "recipients/prefrobnicate.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct canonical_case {
  std::string label;  // what a failing row prints
  std::string input;
  std::string want;   // the result, or ignored when refused
  bool refused;
};

std::string letters(std::size_t n) { return std::string(n, 'a'); }

std::vector<canonical_case> cases() {
  auto row = [](std::string in, std::string want) {
    return canonical_case{in, in, want, false};
  };
  auto big = [](std::string label, std::string in, std::string want) {
    return canonical_case{label, in, want, false};
  };
  auto refused = [](std::string label, std::string in) {
    return canonical_case{label, in, "", true};
  };
  return {
      row("", ""),
      row(" \t\r\n", ""),
      row("Display Name (a comment) <u@h> more", "u@h"),
      row("a b@c", "ab@c"),
      row("a\tb\nc\rd@e", "abcd@e"),
      row("a\vb\fc\x01\x7f\x80\xff@d", "a\vb\fc\x01\x7f\x80\xff@d"),
      row("\"a b\"@c", "\"a b\"@c"),
      row("a\"b c\"d e", "a\"b c\"de"),
      row("\"a\"b\"c\"", "\"a\"b\"c\""),
      row("x(y(z)w)@d", "x@d"),
      row("(a)(b)c", "c"),
      row("a(b(c)d", "a"),
      row("<x(a(b)c)y>", "xy"),
      row("<a(b)c(d(e)f)g>", "acg"),
      row("<(x(y)z)a>", "a"),
      row("a(b\"c)d", "ad"),
      row("a(b\\)c)d", "ad"),
      row("(\\", ""),
      row("a(b))c", "a)c"),
      row("a)b", "a)b"),
      row("a>b", "a>b"),
      row(">a", ">a"),
      row("a\\ b", "a\\ b"),
      row("a\\(b)c", "a\\(b)c"),
      row("a\\\" b c", "a\\\"bc"),
      row("a\\", "a\\"),
      row("\"a\\", "\"a\\"),
      row("abc<d>", "d"),
      row("abc<", ""),
      row("<>", ""),
      row("x<>y", ""),
      row("<a>b c", "a"),
      row("<a><b>", "a"),
      row("a<b>c<d>", "b"),
      row("<a>>", "a"),
      row("<a<b>", "a<b"),
      row("x<a b", "ab"),
      row("<a(>)b>", "ab"),
      row("<\"c>d\"e>", "\"c>d\"e"),
      row("<a\"b>c", "a\"b>c"),
      row("\"<x>\" <y>", "y"),
      row("<@r,@s:u@d>", "@r,@s:u@d"),
      row("a,b c", "a,bc"),
      big("1023 letters", letters(1023), letters(1023)),
      refused("1024 letters", letters(1024)),
      refused("1023 letters, SP", letters(1023) + " "),
      big("1022 letters, SP, letter", letters(1022) + " a", letters(1023)),
      big("1022 letters, long comment", letters(1022) + "(" + letters(3000) + ")",
          letters(1022)),
      refused("1023 letters, comment", letters(1023) + "(c)"),
      big("quote, 1021 letters, quote", "\"" + letters(1021) + "\"",
          "\"" + letters(1021) + "\""),
      refused("quote, 1022 letters, quote", "\"" + letters(1022) + "\""),
      big("1021 letters, backslash pair", letters(1021) + "\\a", letters(1021) + "\\a"),
      refused("1022 letters, backslash pair", letters(1022) + "\\a"),
      big("1022 letters, final backslash", letters(1022) + "\\", letters(1022) + "\\"),
      big("1022 letters, <a>", letters(1022) + "<a>", "a"),
      refused("1023 letters, <a>", letters(1023) + "<a>"),
      refused("<, 1023 letters, >", "<" + letters(1023) + ">"),
      big("<, 1023 letters", "<" + letters(1023), letters(1023)),
      // Plain runs past the view's sixteen-byte rounds: the first byte that
      // matters may fall in any round, the last one overlapping.
      row("sixteen-letters@x (c)", "sixteen-letters@x"),
      row("fifteen-letter@x<a@b>", "a@b"),
      row("an-address-of-31-bytes@example\"q\"", "an-address-of-31-bytes@example\"q\""),
      row("an-address-of-32-bytes@example.o\\ b", "an-address-of-32-bytes@example.o\\ b"),
      row("thirty-three-bytes-of-an-address\tb", "thirty-three-bytes-of-an-addressb"),
      row("a\x01control\x1f-byte-among-plain-ones@x y", "a\x01control\x1f-byte-among-plain-ones@xy"),
      row(std::string("nul-after-sixteen-bytes@x\0 b", 28), "nul-after-sixteen-bytes@x"),
      big("<, 1022 letters, >, more", "<" + letters(1022) + ">" + letters(2000),
          letters(1022)),
  };
}

// Both entry points run on every row: the view's shortcut for plain text
// must agree with the full scan, limits and refusals included.
TEST(prefrobnicate, table) {
  for (const auto& c : cases()) {
    std::string input = c.input;
    testing::internal::CaptureStderr();
    const char* got = prefrobnicate(input.c_str());
    std::string err = testing::internal::GetCapturedStderr();
    testing::internal::CaptureStderr();
    std::string_view view = prefrobnicate_view(input.c_str(), input.size());
    std::string view_err = testing::internal::GetCapturedStderr();
    if (c.refused) {
      EXPECT_EQ(prefrobnicate_refused, got) << c.label;
      EXPECT_EQ(prefrobnicate_refused, view.data()) << c.label << " (view)";
      EXPECT_EQ("prefrobnicate: line too long \"" + c.input + "\"\n", err) << c.label;
    } else {
      EXPECT_EQ(c.want, got) << c.label;
      EXPECT_EQ(c.want, view) << c.label << " (view)";
      EXPECT_EQ("", err) << c.label;
    }
    EXPECT_EQ(err, view_err) << c.label << " (view)";
    EXPECT_EQ(c.input, input) << c.label << ": input changed";
  }
}

TEST(prefrobnicate, result_buffer_is_shared_by_calls) {
  const char* first = prefrobnicate("<one@x>");
  const char* second = prefrobnicate("two@y");
  EXPECT_EQ(first, second);
  EXPECT_STREQ("two@y", first);
  EXPECT_NE(prefrobnicate_refused, prefrobnicate(""));
}

}  // namespace
