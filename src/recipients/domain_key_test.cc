#include "recipients/domain_key.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

struct key_case {
  const char* domain;  // the text after an address's first at sign
  const char* want;
};

constexpr key_case key_cases[] = {
    {"ab.Cd", "DC.BA"},
    {"Example.ORG", "GRO.ELPMAXE"},
    {"example.org", "GRO.ELPMAXE"},       // case-equal domains, one key
    {"", ""},                             // address ending in an at sign
    {"r,@s:u@d", "R"},                    // a route: its first hop alone
    {"a.b:c,d", "B.A"},                   // cut at the first of ',' or ':'
    {",x", ""},
    {"x@y.z", "Z.Y@X"},                   // a later at sign is a plain byte
    {"h\xe9t\xc9.d[1]", "]1[D.\xc9T\xe9H"},  // only ASCII letters change
    {"\"q\".x", "X.\"Q\""},
};

TEST(write_domain_key, table) {
  for (const auto& c : key_cases) {
    std::string key(std::string(c.domain).size() + 1, '*');
    std::size_t length = write_domain_key(c.domain, key.data());
    EXPECT_EQ(c.want, std::string(key.c_str())) << '"' << c.domain << '"';
    EXPECT_EQ(std::strlen(c.want), length) << '"' << c.domain << '"';
  }
}

}  // namespace
