#include "driver/command_line.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/run_settings.h"

namespace {

void parse(std::vector<const char*> args) {
  settings = run_settings{};
  args.insert(args.begin(), "skerla");
  std::vector<char*> argv;
  for (const char* a : args) argv.push_back(const_cast<char*>(a));
  argv.push_back(nullptr);
  parse_command_line(static_cast<int>(args.size()), argv.data());
}

// describe - every setting that differs from its default, one line.
std::string describe(const run_settings& s) {
  run_settings d;
  std::string out;
  auto text = [&](const char* name, const char* v, const char* def) {
    if (v == def) return;
    out += name;
    out += v ? "=" + std::string(v) : std::string("=null");
    out += ' ';
  };
  auto number = [&](const char* name, long v, long def) {
    if (v != def) out += std::string(name) + "=" + std::to_string(v) + " ";
  };
  text("from", s.envelope_from, d.envelope_from);
  text("list", s.recipient_list_file, d.recipient_list_file);
  text("owner", s.owner_address, s.envelope_from);
  text("domain", s.local_domain, d.local_domain);
  text("comment", s.comment, d.comment);
  text("precedence", s.precedence, d.precedence);
  text("reply_to", s.reply_to, d.reply_to);
  number("force_reply_to", s.force_reply_to, d.force_reply_to);
  text("list_archive", s.list_archive, d.list_archive);
  text("list_help", s.list_help, d.list_help);
  text("list_id", s.list_id, d.list_id);
  text("list_owner", s.list_owner, d.list_owner);
  text("list_post", s.list_post, d.list_post);
  text("list_subscribe", s.list_subscribe, d.list_subscribe);
  text("list_unsubscribe", s.list_unsubscribe, d.list_unsubscribe);
  number("delete_list_headers", s.delete_list_headers, d.delete_list_headers);
  number("check_commands", s.check_commands, d.check_commands);
  number("private_list", s.private_list, d.private_list);
  number("max_size", s.max_size, d.max_size);
  number("max_rcpts", s.max_rcpts, d.max_rcpts);
  number("max_domains", s.max_domains, d.max_domains);
  text("sendmail", s.sendmail_flags, d.sendmail_flags);
  number("debug", s.debug, d.debug);
  number("verbose", s.verbose, d.verbose);
  return out;
}

struct accepted_case {
  std::vector<const char*> args;
  const char* want;
};

const accepted_case accepted_cases[] = {
    {{"l@x", "/l"}, "from=l@x list=/l "},
    {{"", "/l"}, "from= list=/l "},  // the null sender
    {{"-comment", "-debug", "l@x", "/l"}, "from=l@x list=/l comment=-debug "},
    {{"-maxrcpts", "007", "-maxdomains", "1", "-maxsize", "2147483647", "a", "b"},
     "from=a list=b max_rcpts=7 max_domains=1 "},
    {{"-domain", ".", "a", "b"}, "from=a list=b domain=. "},
    {{"+reply-to", "a", "-reply-to", "b", "x", "y"},
     "from=x list=y reply_to=b force_reply_to=1 "},
    {{"-delete-list-hdrs", "-delete-list-hdrs", "x", "y"}, "from=x list=y delete_list_headers=2 "},
    {{"-delete-list-hdrs", "-delete-list-hdrs", "-list-id", "i", "x", "y"},
     "from=x list=y list_id=i delete_list_headers=1 "},
    {{"-list-subscribe", "s", "-list-archive", "a", "-list-help", "h", "-list-owner", "o",
      "-list-post", "p", "-list-unsubscribe", "u", "x", "y"},
     "from=x list=y list_archive=a list_help=h list_owner=o list_post=p list_subscribe=s "
     "list_unsubscribe=u delete_list_headers=1 "},
    {{"-v", "-v", "-s", "-s", "-private", "-debug", "-owner", "o@x", "-precedence", "bulk",
      "-sendmail", "-C /etc/x -odi", "x", "y"},
     "from=x list=y owner=o@x precedence=bulk check_commands=1 private_list=1 "
     "sendmail=-C /etc/x -odi debug=1 verbose=2 "},
};

TEST(parse_command_line, accepts) {
  for (const auto& c : accepted_cases) {
    parse(c.args);
    EXPECT_EQ(c.want, describe(settings)) << "args from " << c.args.front();
  }
}

TEST(parse_command_line, owner_defaults_to_envelope_from) {
  parse({"list-bounces@x", "/l"});
  EXPECT_STREQ("list-bounces@x", settings.owner_address);
}

struct refused_case {
  std::vector<const char*> args;
  const char* want_stderr;  // nullptr: the usage texts
};

const refused_case refused_cases[] = {
    {{}, nullptr},
    {{"a"}, nullptr},
    {{"a", "b", "c"}, nullptr},
    {{"-debug"}, nullptr},                      // options use up the arguments
    {{"-comment", "text"}, nullptr},            // value taken, nothing left
    {{"a", "-debug", "b"}, nullptr},            // options come first
    {{"-comment"}, "unknown flag -comment\n"},  // value option as last argument
    {{"-maxsize"}, "unknown flag -maxsize\n"},
    {{"-Debug", "a", "b"}, "unknown flag -Debug\n"},
    {{"--debug", "a", "b"}, "unknown flag --debug\n"},
    {{"+debug", "a", "b"}, "unknown flag +debug\n"},
    {{"-", "a", "b"}, "unknown flag -\n"},
    {{"+", "a", "b"}, "unknown flag +\n"},
    {{"-domain=x.y", "a", "b"}, "unknown flag -domain=x.y\n"},
    {{"-domain", "localhost", "a", "b"},
     "Illegal argument to -domain: localhost is not a fully-qualified domain name\n"},
    {{"-maxrcpts", "0", "a", "b"}, "illegal value for -maxrcpts: 0\n"},
    {{"-maxrcpts", "5x", "a", "b"}, "illegal value for -maxrcpts: 5x\n"},
    {{"-maxrcpts", "+5", "a", "b"}, "illegal value for -maxrcpts: +5\n"},
    {{"-maxrcpts", "", "a", "b"}, "illegal value for -maxrcpts: \n"},
    {{"-maxdomains", " 5", "a", "b"}, "illegal value for -maxdomains:  5\n"},
    {{"-maxdomains", "-3", "a", "b"}, "illegal value for -maxdomains: -3\n"},
    // Beyond 32 signed bits a limit is refused, not wrapped or clamped.
    {{"-maxsize", "2147483648", "a", "b"}, "illegal value for -maxsize: 2147483648\n"},
    {{"-maxsize", "99999999999999999999", "a", "b"},
     "illegal value for -maxsize: 99999999999999999999\n"},
    // The first error ends the run; later arguments are not looked at.
    {{"-maxsize", "0", "-bogus", "a", "b"}, "illegal value for -maxsize: 0\n"},
    {{"-bogus", "-maxsize", "0", "a", "b"}, "unknown flag -bogus\n"},
};

TEST(parse_command_line, refuses_with_status_64) {
  for (const auto& c : refused_cases) {
    auto matcher = c.want_stderr
                       ? testing::Matcher<const std::string&>(testing::StrEq(c.want_stderr))
                       : testing::StartsWith("usage: skerla [options] envelope_from "
                                             "recipient_list_file\n(message appears on stdin)\n");
    EXPECT_EXIT(parse(c.args), testing::ExitedWithCode(64), matcher)
        << "args: " << testing::PrintToString(c.args);
  }
}

TEST(is_all_digits, table) {
  struct { const char* text; bool want; } cases[] = {
      {"0", true}, {"007", true}, {"2147483648", true}, {"", false},
      {" 5", false}, {"+5", false}, {"-3", false}, {"5x", false},
      {"\xd9", false},  // a byte above 127 is no digit
  };
  for (const auto& c : cases) EXPECT_EQ(c.want, is_all_digits(c.text)) << '"' << c.text << '"';
}

}  // namespace
