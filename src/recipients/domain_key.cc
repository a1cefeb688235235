#include "recipients/domain_key.h"

#include <cstring>

std::size_t write_domain_key(const char* domain, char* key) {
  // A route's hops end at a comma or colon; only the first hop names the key.
  std::size_t length = std::strcspn(domain, ",:");
  for (std::size_t i = 0; i < length; ++i) {
    char c = domain[length - 1 - i];
    key[i] = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
  }
  key[length] = '\0';
  return length;
}
