#include "recipients/text_set.h"

#include <sysexits.h>

#include <cstdlib>
#include <cstring>

#include "driver/fatal.h"

namespace {

constexpr std::uint32_t first_slot_count = 4096;
constexpr std::uint32_t first_capacity = 1024;
constexpr std::size_t copy_block_bytes = 1 << 16;

// FNV-1a: short texts, one pass, good enough spread for domain names.
std::uint32_t hash_of(const char* text, std::size_t length) {
  std::uint32_t hash = 2166136261u;
  for (std::size_t i = 0; i < length; ++i) {
    hash ^= static_cast<unsigned char>(text[i]);
    hash *= 16777619u;
  }
  return hash;
}

template <typename T>
T* resize_or_exit(T* items, std::size_t count) {
  void* moved = std::realloc(items, count * sizeof(T));
  if (!moved) fatal(EX_TEMPFAIL, "out of memory\n");
  return static_cast<T*>(moved);
}

void place(text_set& set, const text_set_slot& entry) {
  std::uint32_t slot = entry.hash & set.slot_mask;
  while (set.slots[slot].text) slot = (slot + 1) & set.slot_mask;
  set.slots[slot] = entry;
}

// grow_slots - keep the table at most half full, so probes stay short.
void grow_slots(text_set& set) {
  text_set_slot* old = set.slots;
  std::uint32_t old_count = old ? set.slot_mask + 1 : 0;
  std::uint32_t slot_count = old ? old_count * 2 : first_slot_count;
  if (slot_count == 0) fatal(EX_TEMPFAIL, "out of memory\n");
  set.slots = static_cast<text_set_slot*>(std::calloc(slot_count, sizeof *set.slots));
  if (!set.slots) fatal(EX_TEMPFAIL, "out of memory\n");
  set.slot_mask = slot_count - 1;
  for (std::uint32_t slot = 0; slot < old_count; ++slot)
    if (old[slot].text) place(set, old[slot]);
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

std::uint32_t text_set_add(text_set& set, const char* text, std::size_t length) {
  std::uint32_t hash = hash_of(text, length);
  if (!set.slots) grow_slots(set);
  for (std::uint32_t slot = hash & set.slot_mask; set.slots[slot].text;
       slot = (slot + 1) & set.slot_mask) {
    const text_set_slot& known = set.slots[slot];
    if (known.hash == hash && std::strncmp(known.text, text, length) == 0 &&
        known.text[length] == '\0')
      return known.number;
  }

  if (set.count == set.capacity) {
    if (set.capacity > UINT32_MAX / 2) fatal(EX_TEMPFAIL, "out of memory\n");
    set.capacity = set.capacity ? set.capacity * 2 : first_capacity;
    set.texts = resize_or_exit(set.texts, set.capacity);
  }
  std::uint32_t number = set.count++;
  set.texts[number] = copy_text(set, text, length);
  place(set, text_set_slot{set.texts[number], hash, number});
  if (set.count > (set.slot_mask + 1) / 2) grow_slots(set);
  return number;
}
