#include "recipients/text_set.h"

#include <sysexits.h>

#include <cstdlib>
#include <cstring>

#include "driver/fatal.h"
#include "recipients/big_block.h"

namespace {

constexpr std::uint32_t first_slot_count = 4096;
constexpr std::uint32_t first_capacity = 1024;
constexpr std::size_t copy_block_bytes = 1 << 16;

inline std::uint64_t load8(const char* p) {
  std::uint64_t word;
  std::memcpy(&word, p, sizeof word);
  return word;
}

inline std::uint32_t load4(const char* p) {
  std::uint32_t word;
  std::memcpy(&word, p, sizeof word);
  return word;
}

// The texts are read a word at a time, the last word overlapping the one
// before it, so no load reaches past a text's end.

constexpr std::uint64_t each_byte = 0x0101010101010101u;

// folded - the word with its ASCII upper-case letters made lower case. The
// top bit of each byte tells whether the byte is 'A' to 'Z': the sums
// cannot carry into the next byte.
inline std::uint64_t folded(std::uint64_t word) {
  std::uint64_t low7 = word & 0x7f * each_byte;
  std::uint64_t from_a = low7 + (0x80 - 'A') * each_byte;
  std::uint64_t past_z = low7 + (0x80 - 'Z' - 1) * each_byte;
  std::uint64_t upper = from_a & ~past_z & ~word & 0x80 * each_byte;
  return word | upper >> 2;
}

// short_word - a text of fewer than 8 bytes as one word: its first and
// last 4 bytes, or its first, middle and last byte.
inline std::uint64_t short_word(const char* text, std::size_t length) {
  if (length >= 4) return std::uint64_t{load4(text)} << 32 | load4(text + length - 4);
  auto byte = [text](std::size_t i) { return std::uint64_t{static_cast<unsigned char>(text[i])}; };
  return length ? byte(0) | byte(length / 2) << 8 | byte(length - 1) << 16 : 0;
}

// hash_of - the length and every byte, then a final mix so that the low
// bits, which pick the slot, depend on all of them. `blur` is ORed into
// every word: 0x20 in each byte makes texts that differ only in case hash
// alike (and a few more, which the comparison tells apart).
inline std::uint32_t hash_of(const char* text, std::size_t length, std::uint64_t blur) {
  constexpr std::uint64_t odd = 0x9e3779b97f4a7c15u;
  std::uint64_t hash = length * odd;
  auto mix = [&hash, blur](std::uint64_t word) {
    hash = (hash ^ (word | blur)) * odd;
    hash ^= hash >> 29;
  };
  if (length >= 8) {
    for (std::size_t i = 0; i + 8 < length; i += 8) mix(load8(text + i));
    mix(load8(text + length - 8));
  } else {
    mix(short_word(text, length));
  }
  hash *= 0xff51afd7ed558ccdu;
  hash ^= hash >> 32;
  return static_cast<std::uint32_t>(hash);
}

inline bool same_bytes(const char* a, const char* b, std::size_t length) {
  if (length >= 8) {
    for (std::size_t i = 0; i + 8 < length; i += 8)
      if (load8(a + i) != load8(b + i)) return false;
    return load8(a + length - 8) == load8(b + length - 8);
  }
  return short_word(a, length) == short_word(b, length);
}

inline bool same_bytes_but_case(const char* a, const char* b, std::size_t length) {
  if (length >= 8) {
    for (std::size_t i = 0; i + 8 < length; i += 8)
      if (folded(load8(a + i)) != folded(load8(b + i))) return false;
    return folded(load8(a + length - 8)) == folded(load8(b + length - 8));
  }
  return folded(short_word(a, length)) == folded(short_word(b, length));
}

template <typename T>
T* resize_or_exit(T* items, std::size_t count) {
  void* moved = std::realloc(items, count * sizeof(T));
  if (!moved) fatal(EX_TEMPFAIL, "out of memory\n");
  return static_cast<T*>(moved);
}

text_set_slot slot_of(const char* text, std::size_t length, std::uint32_t number,
                      std::uint32_t hash) {
  text_set_slot entry{hash, number + 1, static_cast<std::uint32_t>(length), {}};
  std::memcpy(entry.head, text, length < text_set_slot_bytes ? length : text_set_slot_bytes);
  return entry;
}

void place(text_set& set, const text_set_slot& entry) {
  std::uint32_t slot = entry.hash & set.slot_mask;
  while (set.slots[slot].number_after) slot = (slot + 1) & set.slot_mask;
  set.slots[slot] = entry;
}

// grow_slots - a table at most half full, so probes stay short, holding
// every text: the slots of the old table, or with none, slots made anew.
void grow_slots(text_set& set) {
  text_set_slot* old = set.slots;
  std::uint64_t old_count = old ? std::uint64_t{set.slot_mask} + 1 : 0;
  std::uint64_t slot_count = first_slot_count;
  while (slot_count / 2 < set.count) slot_count *= 2;
  if (slot_count > UINT32_MAX) fatal(EX_TEMPFAIL, "out of memory\n");
  // Aligned, so that no slot straddles two cache lines.
  std::size_t bytes = slot_count * sizeof *set.slots;
  set.slots = static_cast<text_set_slot*>(big_block(bytes));
  std::memset(set.slots, 0, bytes);
  set.slot_mask = static_cast<std::uint32_t>(slot_count - 1);
  for (std::uint64_t slot = 0; slot < old_count; ++slot)
    if (old[slot].number_after) place(set, old[slot]);
  if (!old) {
    for (std::uint32_t number = 0; number < set.count; ++number)
      place(set, slot_of(set.texts[number], set.lengths[number], number,
                         text_set_hash(set, set.texts[number], set.lengths[number])));
  }
  std::free(old);
}

const char* copy_text(text_set& set, const char* text, std::size_t length) {
  if (length + 1 > set.block_left) {
    std::size_t bytes = length + 1 > copy_block_bytes ? length + 1 : copy_block_bytes;
    set.block = static_cast<char*>(alloc_or_exit(bytes));
    set.block_left = bytes;
  }
  char* copy = set.block;
  std::memcpy(copy, text, length);
  copy[length] = '\0';
  set.block += length + 1;
  set.block_left -= length + 1;
  return copy;
}

}  // namespace

std::uint32_t text_set_append(text_set& set, const char* text, std::size_t length) {
  if (set.count == set.capacity) {
    // Numbers are stored plus one in the slots.
    if (set.capacity > UINT32_MAX / 2 - 1) fatal(EX_TEMPFAIL, "out of memory\n");
    set.capacity = set.capacity ? set.capacity * 2 : first_capacity;
    set.texts = resize_or_exit(set.texts, set.capacity);
    set.lengths = resize_or_exit(set.lengths, set.capacity);
  }
  if (length > UINT32_MAX) fatal(EX_TEMPFAIL, "out of memory\n");
  std::uint32_t number = set.count++;
  set.texts[number] = copy_text(set, text, length);
  set.lengths[number] = static_cast<std::uint32_t>(length);
  return number;
}

void text_set_stop_adding(text_set& set) {
  std::free(set.slots);
  set.slots = nullptr;
  set.slot_mask = 0;
}

std::uint32_t text_set_hash(const text_set& set, const char* text, std::size_t length) {
  return hash_of(text, length, set.ignore_case ? 0x20 * each_byte : 0);
}

std::uint32_t text_set_add(text_set& set, const char* text, std::size_t length, bool* exact) {
  return text_set_add_hashed(set, text, length, text_set_hash(set, text, length), exact);
}

std::uint32_t text_set_add_hashed(text_set& set, const char* text, std::size_t length,
                                  std::uint32_t hash, bool* exact) {
  std::size_t head = length < text_set_slot_bytes ? length : text_set_slot_bytes;
  if (!set.slots) grow_slots(set);
  for (std::uint32_t slot = hash & set.slot_mask; set.slots[slot].number_after;
       slot = (slot + 1) & set.slot_mask) {
    const text_set_slot& known = set.slots[slot];
    if (known.hash != hash || known.length != length) continue;
    // A text whose slot holds all of it touches nothing else.
    std::uint32_t number = known.number_after - 1;
    const char* rest = length > head ? set.texts[number] + head : nullptr;
    std::size_t rest_length = length - head;
    // Spelt alike is the usual case, and a match in any set.
    bool alike = same_bytes(known.head, text, head) &&
                 (!rest || same_bytes(rest, text + head, rest_length));
    if (!alike && !(set.ignore_case && same_bytes_but_case(known.head, text, head) &&
                    (!rest || same_bytes_but_case(rest, text + head, rest_length))))
      continue;
    if (exact) *exact = alike;
    return number;
  }

  std::uint32_t number = text_set_append(set, text, length);
  place(set, slot_of(text, length, number, hash));
  if (set.count > (set.slot_mask + 1) / 2) grow_slots(set);
  if (exact) *exact = true;
  return number;
}
