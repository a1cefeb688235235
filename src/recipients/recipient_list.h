// recipient_list.h - the subscriber list, canonicalized and keyed.
//   load_recipients()      read settings.recipient_list_file into
//                          `recipients`, in file order; exits EX_NOINPUT
//                          "skerla: can't open recipient list %s (%s)\n",
//                          EX_TEMPFAIL "skerla: can't read recipient list %s
//                          (%s)\n" or "out of memory\n"
//   author_is_subscriber   an entry equals author_address, ASCII case aside
//   first_recipient(), next_recipient(r)
//                          the entries in file order, recipients.count of
//                          them; recipients.entries is only filled by the
//                          sort (envelopes.h), in key order
//   write_address(r, out)  the entry's canonical address, NUL-ended, into
//                          `out` (recipients.longest_address + 1 bytes);
//                          returns its length
//   address_parts(r)       the same address in place: the text before the
//                          at sign and the domain after it, or the whole
//                          address when stored whole; for writing many in a
//                          row without building each
//   key_number(r)          its domain key's number: equal keys, equal numbers
//   domain_key(r)          its domain key's text (domain_key.h)
//   stored_text(r)         the text stored for it: its local part (the text
//                          before its first at sign), or its whole address
//                          when stored_whole(r); NUL-ended just past the view
//   domain_text(r)         the text after its first at sign, unless
//                          stored_whole(r): its domain's text as first
//                          seen (ASCII case aside), or the local domain
// An entry is a record in one large block: the number of its domain (which
// the entries of one domain share with their key), the length of its text,
// and its local part, NUL-ended. Domains are
// told apart without regard to ASCII case, so an address whose domain is
// spelt otherwise than its domain's text is stored whole instead (or, when
// it was completed, marked as taking the local domain). Nothing
// is ever freed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "recipients/text_set.h"

struct recipient {
  std::uint32_t local_part;  // offset of its stored text in recipient_table::local_parts
};

// Before each stored text: its domain's number, then its length, with a
// bit for a whole address or for a local part completed with the local
// domain (both in host order).
using stored_length = std::uint16_t;
constexpr stored_length stored_whole_address = 0x8000;
constexpr stored_length stored_local_domain = 0x4000;
constexpr stored_length stored_length_mask = 0x3fff;
constexpr std::size_t stored_head_bytes = sizeof(std::uint32_t) + sizeof(stored_length);

struct recipient_table {
  recipient* entries = nullptr;  // in key order, once sorted
  std::int32_t count = 0;
  char* local_parts = nullptr;   // the records, in file order
  std::size_t local_parts_used = 0;
  std::size_t local_parts_capacity = 0;
  text_set domains;              // the distinct texts after the first at
                                 // sign, ASCII case aside
  std::uint32_t* key_of_domain = nullptr;      // key number per domain number
  std::uint32_t* entries_of_domain = nullptr;  // how many entries each has
  std::uint32_t domain_capacity = 0;           // of both
  text_set keys;                 // the distinct domain keys, only appended
  std::size_t longest_address = 0;
};

extern recipient_table recipients;
extern bool author_is_subscriber;

void load_recipients();

inline recipient first_recipient() { return {stored_head_bytes}; }
inline std::uint32_t domain_number_of(const recipient& r) {
  std::uint32_t domain;
  std::memcpy(&domain, recipients.local_parts + r.local_part - stored_head_bytes, sizeof domain);
  return domain;
}
inline std::uint32_t key_number(const recipient& r) {
  return recipients.key_of_domain[domain_number_of(r)];
}
inline const char* domain_key(const recipient& r) { return recipients.keys.texts[key_number(r)]; }
inline stored_length stored_prefix(const recipient& r) {
  stored_length prefix;
  std::memcpy(&prefix, recipients.local_parts + r.local_part - sizeof prefix, sizeof prefix);
  return prefix;
}
inline std::string_view stored_text(const recipient& r) {
  return {recipients.local_parts + r.local_part, std::size_t{stored_prefix(r)} & stored_length_mask};
}
inline bool stored_whole(const recipient& r) { return stored_prefix(r) & stored_whole_address; }
std::string_view local_domain_text();
inline std::string_view domain_text(const recipient& r) {
  if (stored_prefix(r) & stored_local_domain) return local_domain_text();
  std::uint32_t domain = domain_number_of(r);
  return {recipients.domains.texts[domain], recipients.domains.lengths[domain]};
}
inline recipient next_recipient(const recipient& r) {
  return {static_cast<std::uint32_t>(r.local_part + (stored_prefix(r) & stored_length_mask) + 1 +
                                     stored_head_bytes)};
}
std::size_t write_address(const recipient& r, char* out);

struct address_in_parts {
  std::string_view before_at;  // the whole address when !has_domain
  bool has_domain;
  std::string_view domain;     // may be empty: "user@" is an address too
};

inline address_in_parts address_parts(const recipient& r) {
  std::string_view stored = stored_text(r);
  if (stored_whole(r)) return {stored, false, {}};
  return {stored, true, domain_text(r)};
}
