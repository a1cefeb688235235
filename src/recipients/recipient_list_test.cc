#include "recipients/recipient_list.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "driver/run_settings.h"
#include "intake/header_filter.h"
#include "recipients/prefrobnicate.h"

namespace {

// Domains are told apart without regard to ASCII case, and an address
// spelt otherwise than its domain's first spelling is kept whole: each must
// still come back byte for byte, and only ASCII letters may fold (bytes
// that differ by 0x20 without being letters are different domains). The
// 21st byte onwards of a domain is compared outside the hash slot. A key
// ends at a comma or colon, so such domains share the key of their first
// part.
TEST(load_recipients, keeps_every_spelling_and_folds_only_letters) {
  const std::string list =
      "ann@b.example\n"
      "ann@B.EXAMPLE\n"
      "bob@b.Example\n"
      "carol@a-domain-name-longer-than-twenty.example\n"
      "dan@a-domain-name-longer-than-TWENTY.example\n"
      "eve@a-domain-name-longer-than-twenty.exampld\n"
      "fay@x[y\n"
      "gus@x{y\n"
      "hal@\xc1.example\n"
      "ida@\xe1.example\n"
      "jo@LOCAL.example\n"
      "kim\n"
      "lee@local.example\n"
      "oli@q.example,r\n"
      "pam@Q.EXAMPLE:s\n"
      "quin@q.example\n"
      "Max@\n"
      "ned@";
  char path[] = "/tmp/skerla-list-test-XXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(static_cast<ssize_t>(list.size()), write(fd, list.data(), list.size()));
  close(fd);
  settings.recipient_list_file = path;
  settings.local_domain = "local.example";
  author_address = "max@";

  load_recipients();
  unlink(path);

  std::string got;
  std::string written(recipients.longest_address + 1, '\0');
  recipient r = first_recipient();
  for (std::int32_t i = 0; i < recipients.count; ++i, r = next_recipient(r)) {
    address_in_parts parts = address_parts(r);
    std::string built(parts.before_at);
    if (parts.has_domain) built += '@' + std::string(parts.domain);
    std::size_t length = write_address(r, written.data());
    got += std::string(built) + ' ' + domain_key(r) + ' ' + std::to_string(key_number(r));
    if (std::string_view(written.data(), length) != built || written[length] != '\0')
      got += " (write_address: " + written.substr(0, length) + ')';
    got += '\n';
  }
  EXPECT_EQ(
      "ann@b.example ELPMAXE.B 0\n"
      "ann@B.EXAMPLE ELPMAXE.B 0\n"
      "bob@b.Example ELPMAXE.B 0\n"
      "carol@a-domain-name-longer-than-twenty.example ELPMAXE.YTNEWT-NAHT-REGNOL-EMAN-NIAMOD-A 1\n"
      "dan@a-domain-name-longer-than-TWENTY.example ELPMAXE.YTNEWT-NAHT-REGNOL-EMAN-NIAMOD-A 1\n"
      "eve@a-domain-name-longer-than-twenty.exampld DLPMAXE.YTNEWT-NAHT-REGNOL-EMAN-NIAMOD-A 2\n"
      "fay@x[y Y[X 3\n"
      "gus@x{y Y{X 4\n"
      "hal@\xc1.example ELPMAXE.\xc1 5\n"
      "ida@\xe1.example ELPMAXE.\xe1 6\n"
      "jo@LOCAL.example ELPMAXE.LACOL 7\n"
      "kim@local.example ELPMAXE.LACOL 7\n"
      "lee@local.example ELPMAXE.LACOL 7\n"
      "oli@q.example,r ELPMAXE.Q 8\n"
      "pam@Q.EXAMPLE:s ELPMAXE.Q 8\n"
      "quin@q.example ELPMAXE.Q 8\n"
      "Max@  9\n"
      "ned@  9\n",
      got);
  EXPECT_TRUE(author_is_subscriber);
  EXPECT_EQ(10u, recipients.keys.count);
}

// Bare addresses are taken in one pass over their bytes, sixteen at a time;
// every other line goes through the canonicalizer. Wherever the at sign,
// the line's end or a byte that needs the canonicalizer falls against
// those rounds, the entry must be what the canonicalizer makes of the line.
TEST(load_recipients, bare_and_written_lines_agree_with_the_canonicalizer) {
  std::string list;
  std::vector<std::string> want;
  for (std::size_t length = 1; length <= 40; ++length) {
    for (std::size_t at = 0; at <= length; at += at + 7 > length && at < length ? length - at : 7) {
      for (const char* odd : {"", " ", "\x01", "(c)", "\\", "#"}) {
        std::string line(length, 'a');
        if (at < length) line[at] = '@';  // at == length: none, the local domain is added
        if (at + 1 < length) line[length - 1] = 'd';  // a domain, where there is room
        std::size_t odd_at = (length * 5 + at) % (length + 1);
        if (*odd == '#') odd_at = 0;
        line.insert(odd_at, odd);
        list += line + "\n";
        if (line[0] == '#') continue;  // a comment
        std::string address = prefrobnicate(line.c_str());
        if (address.find('@') == std::string::npos) address += "@local.example";
        if (address[0] == '@' && address.find('@', 1) == std::string::npos) continue;
        want.push_back(address);
      }
    }
  }
  // A line without an at sign, the next line's at sign in the same round.
  for (std::size_t length = 1; length <= 20; ++length) {
    list += std::string(length, 'k') + "\nb@x\n";
    want.push_back(std::string(length, 'k') + "@local.example");
    want.push_back("b@x");
  }
  char path[] = "/tmp/skerla-list-test-XXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(static_cast<ssize_t>(list.size()), write(fd, list.data(), list.size()));
  close(fd);
  static recipient_table earlier;  // kept, not freed: the table is never freed
  earlier = recipients;
  recipients = recipient_table{};
  settings.recipient_list_file = path;
  settings.local_domain = "local.example";
  settings.verbose = 0;
  author_address = nullptr;
  load_recipients();
  unlink(path);

  ASSERT_EQ(want.size(), static_cast<std::size_t>(recipients.count));
  std::string written(recipients.longest_address + 1, '\0');
  recipient r = first_recipient();
  for (std::size_t i = 0; i < want.size(); ++i, r = next_recipient(r)) {
    std::size_t length = write_address(r, written.data());
    EXPECT_EQ(want[i], written.substr(0, length)) << "entry " << i;
  }
}

}  // namespace
