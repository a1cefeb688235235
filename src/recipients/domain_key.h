// domain_key.h - the key that sorts and groups addresses by domain.
//   write_domain_key(domain, key)  the key of `domain`, the text after an
//                                  address's first at sign: cut before the
//                                  first ',' or ':', ASCII letters upper-cased,
//                                  reversed byte by byte; written NUL-ended
//                                  into `key` (room for strlen(domain) + 1),
//                                  returns its length
// Reversed, the keys of one parent domain begin alike and sort together;
// upper-cased, domains that differ only in case share one key. Pure.
#pragma once

#include <cstddef>

std::size_t write_domain_key(const char* domain, char* key);
