// recipient_list.h - the subscriber list, canonicalized and keyed.
//   load_recipients()      read settings.recipient_list_file into
//                          `recipients`, in file order; exits EX_NOINPUT
//                          "skerla: can't open recipient list %s (%s)\n",
//                          EX_TEMPFAIL "skerla: can't read recipient list %s
//                          (%s)\n" or "out of memory\n"
//   author_is_subscriber   an entry equals author_address, ASCII case aside
//   write_address(r, out)  the entry's canonical address, NUL-ended, into
//                          `out` (recipients.longest_address + 1 bytes);
//                          returns its length
//   key_number(r)          its domain key's number: equal keys, equal numbers
//   domain_key(r)          its domain key's text (domain_key.h)
// An entry is its local part (the text before the first at sign, in one
// large block) and the number of its domain text (the rest), which the
// entries of one domain share with their key. Nothing is ever freed.
#pragma once

#include <cstddef>
#include <cstdint>

#include "recipients/text_set.h"

struct recipient {
  std::uint32_t local_part;  // offset in recipient_table::local_parts
  std::uint32_t domain;      // number in recipient_table::domains
};

struct recipient_table {
  recipient* entries = nullptr;
  std::int32_t count = 0;
  std::int32_t capacity = 0;
  char* local_parts = nullptr;  // NUL-ended texts, one after another
  std::size_t local_parts_used = 0;
  std::size_t local_parts_capacity = 0;
  text_set domains;              // the distinct texts after the first at sign
  std::uint32_t* key_of_domain = nullptr;  // key number per domain number
  std::uint32_t key_of_domain_capacity = 0;
  text_set keys;                 // the distinct domain keys
  std::size_t longest_address = 0;
};

extern recipient_table recipients;
extern bool author_is_subscriber;

void load_recipients();

inline std::uint32_t key_number(const recipient& r) {
  return recipients.key_of_domain[r.domain];
}
inline const char* domain_key(const recipient& r) { return recipients.keys.texts[key_number(r)]; }
std::size_t write_address(const recipient& r, char* out);
