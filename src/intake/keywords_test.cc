#include "intake/keywords.h"

#include <gtest/gtest.h>

namespace {

struct keyword_case {
  const char* text;
  const char* keyword;
  bool want;
};

// Rows name the text first and the keyword second, whatever the matcher's
// own argument order.
constexpr keyword_case field_name_cases[] = {
    {"FROM: a", "from", true},
    {"From : a", "from", true},
    {"From\n :a", "from", true},     // the colon on the continuation line
    {"From\t\r\n :a", "from", true},
    {" From: a", "from", false},     // nothing skipped in front
    {"Fromage: a", "from", false},
    {"From x: a", "from", false},
    {"From", "from", false},
    {"Fro", "from", false},          // the text ends inside the name
    {"", "from", false},
    {"cc:", "cc", true},
};

constexpr keyword_case has_prefix_cases[] = {
    {"UUCP", "uucp", true},
    {"uucp-gateway@host", "uucp", true},
    {"uucpx", "uucp", true},
    {" uucp", "uucp", false},
    {"uuc", "uucp", false},
    {"MAILER-DAEMON@host", "mailer-daemon", true},
    {"", "mmdf", false},
};

constexpr keyword_case leading_word_cases[] = {
    {" subscribe\n", "subscribe", true},
    {"subscribe me please", "subscribe", true},
    {"\t \tSUBSCRIBE\t", "subscribe", true},
    {"subscribe", "subscribe", false},       // NUL follows
    {"subscribe\r\n", "subscribe", false},   // CR follows
    {"subscribe, please", "subscribe", false},
    {"unsubscribe me", "subscribe", false},
    {"\nsubscribe me", "subscribe", false},  // LF is not skipped
    {"Re: subscribe me", "subscribe", false},
};

constexpr keyword_case contains_word_cases[] = {
    {"please unsubscribe me", "unsubscribe", true},
    {"please unsubscribe\n", "unsubscribe", true},
    {"unsubscribe", "unsubscribe", true},          // at the very start, NUL after
    {"UnSubscribe\tnow", "unsubscribe", true},
    {"please\tunsubscribe me", "unsubscribe", true},
    {"(unsubscribe)", "unsubscribe", false},       // punctuation in front
    {"unsubscribe.", "unsubscribe", false},        // punctuation after
    {"unsubscribe\r\n", "unsubscribe", false},     // CR is not a word end
    {"x\nunsubscribe me", "unsubscribe", false},   // LF is not a word start
    {"unsubscribe", "subscribe", false},           // not inside a word
    {"sub subscribe", "subscribe", true},          // a failed candidate first
    {"mailer-daemon@host", "mailer-daemon@", false},
    {"MAILER-DAEMON@", "mailer-daemon@", true},
    {"x MAILER-DAEMON@ y", "mailer-daemon@", true},
    {"non-delivery of: x", "non-delivery of:", true},
    {"non-delivery of:x", "non-delivery of:", false},
    {"rcpt:", "rcpt:", true},
    {"", "rcpt:", false},
};

TEST(field_name_is, table) {
  for (const auto& c : field_name_cases)
    EXPECT_EQ(c.want, field_name_is(c.keyword, c.text)) << '"' << c.text << "\" " << c.keyword;
}

TEST(has_prefix, table) {
  for (const auto& c : has_prefix_cases)
    EXPECT_EQ(c.want, has_prefix(c.text, c.keyword)) << '"' << c.text << "\" " << c.keyword;
}

TEST(leading_word_is, table) {
  for (const auto& c : leading_word_cases)
    EXPECT_EQ(c.want, leading_word_is(c.text, c.keyword)) << '"' << c.text << "\" " << c.keyword;
}

TEST(contains_word, table) {
  for (const auto& c : contains_word_cases)
    EXPECT_EQ(c.want, contains_word(c.text, c.keyword)) << '"' << c.text << "\" " << c.keyword;
}

}  // namespace
