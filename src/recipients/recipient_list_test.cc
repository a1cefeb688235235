#include "recipients/recipient_list.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "driver/run_settings.h"
#include "intake/header_filter.h"

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

}  // namespace
