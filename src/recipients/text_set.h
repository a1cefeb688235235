// text_set.h - a set of distinct byte texts, each numbered once.
//   text_set_add(set, text, length, exact)
//                          the number of the text, adding a copy when it is
//                          new; numbers count up from 0. With set.ignore_case
//                          texts that differ only in the case of ASCII
//                          letters are one text, spelt as first seen, and
//                          `*exact` (when given) tells whether `text` is
//                          spelt so byte for byte
//   text_set_hash(set, text, length), text_set_prefetch(set, hash),
//   text_set_add_hashed(set, text, length, hash, exact)
//                          the same in steps, so that lookups of many texts
//                          can overlap their waits for memory
//   text_set_append(set, text, length)
//                          adds a copy of a text known to be new and returns
//                          its number; a set filled so has no lookup table
//   text_set_stop_adding(set)  frees the lookup table, which a later add
//                          builds again; the texts stay
//   set.texts[n]           the NUL-terminated copy of text n
//   set.lengths[n]         its length
// Copies live in large blocks and are never freed; exits EX_TEMPFAIL
// "out of memory\n". Texts hold no NUL and are shorter than 4 GiB. Lookups
// hash the bytes once.
#pragma once

#include <cstddef>
#include <cstdint>

// A slot holds the hash, the length and the first bytes of its text: most
// domain names fit whole, so a lookup reads one cache line and nothing
// else. The list's domains come in no order, and cache misses cost most.
constexpr std::size_t text_set_slot_bytes = 20;

struct text_set_slot {
  std::uint32_t hash;
  std::uint32_t number_after;  // the text's number plus one; 0: empty slot
  std::uint32_t length;
  char head[text_set_slot_bytes];
};
static_assert(sizeof(text_set_slot) == 32);

struct text_set {
  bool ignore_case = false;
  const char** texts = nullptr;
  std::uint32_t* lengths = nullptr;
  std::uint32_t count = 0;
  std::uint32_t capacity = 0;
  text_set_slot* slots = nullptr;
  std::uint32_t slot_mask = 0;
  char* block = nullptr;           // the block new copies go into
  std::size_t block_left = 0;
};

std::uint32_t text_set_add(text_set& set, const char* text, std::size_t length,
                           bool* exact = nullptr);
std::uint32_t text_set_append(text_set& set, const char* text, std::size_t length);
void text_set_stop_adding(text_set& set);
std::uint32_t text_set_hash(const text_set& set, const char* text, std::size_t length);
std::uint32_t text_set_add_hashed(text_set& set, const char* text, std::size_t length,
                                  std::uint32_t hash, bool* exact);

inline void text_set_prefetch(const text_set& set, std::uint32_t hash) {
  if (set.slots) __builtin_prefetch(&set.slots[hash & set.slot_mask]);
}
