// short_copy.h - copy_short(to, from, length): memcpy for the short texts
// the list is made of (addresses, local parts, domains), done in place with
// two overlapping moves instead of a call; longer ones go to memcpy.
// Reads and writes nothing outside the two ranges.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

inline void copy_short(char* to, const char* from, std::size_t length) {
  if (length >= 8 && length <= 16) {
    std::uint64_t head, tail;
    std::memcpy(&head, from, 8);
    std::memcpy(&tail, from + length - 8, 8);
    std::memcpy(to, &head, 8);
    std::memcpy(to + length - 8, &tail, 8);
  } else if (length >= 4 && length < 8) {
    std::uint32_t head, tail;
    std::memcpy(&head, from, 4);
    std::memcpy(&tail, from + length - 4, 4);
    std::memcpy(to, &head, 4);
    std::memcpy(to + length - 4, &tail, 4);
  } else if (length > 16) {
    std::memcpy(to, from, length);
  } else {
    for (std::size_t i = 0; i < length; ++i) to[i] = from[i];
  }
}
