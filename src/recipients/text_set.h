// text_set.h - a set of distinct byte texts, each numbered once.
//   text_set_add(set, text, length)  the number of the text, adding a copy
//                                    when it is new; numbers count up from 0
//   set.texts[n]                     the NUL-terminated copy of text n
// Copies live in large blocks and are never freed; exits EX_TEMPFAIL
// "out of memory\n". Texts hold no NUL. Lookups hash the bytes once.
#pragma once

#include <cstddef>
#include <cstdint>

struct text_set_slot {
  const char* text;  // nullptr for an empty slot
  std::uint32_t hash;
  std::uint32_t number;
};

struct text_set {
  const char** texts = nullptr;
  std::uint32_t count = 0;
  std::uint32_t capacity = 0;
  // Each slot carries its text and hash, so a lookup touches one slot and
  // one text: the list's domains come in no order, and misses cost most.
  text_set_slot* slots = nullptr;
  std::uint32_t slot_mask = 0;
  char* block = nullptr;           // the block new copies go into
  std::size_t block_left = 0;
};

std::uint32_t text_set_add(text_set& set, const char* text, std::size_t length);
