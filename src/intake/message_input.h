// message_input.h - standard input read in large blocks, for the intake.
//   start_input(in, stream)   begin reading `stream` (any FILE*, memory
//                             streams included) through in's own block
//   next_byte(in)             the next byte, or -1 at the end of input
//   push_back_byte(in)        give back the byte next_byte just returned
//   read_line(in, buf, cap)   up to cap - 1 bytes, stopping after an LF, into
//                             buf with a NUL after them; returns the count,
//                             0 at the end of input (NUL bytes count too)
//   refill(in)                read the next block; false at the end of input
// A read error ends the run: EX_TEMPFAIL "skerla: error reading message:\n%s\n",
// so the MTA keeps the post. One call of fread per block, so the body copy
// costs what a plain file copy costs.
#pragma once

#include <cstddef>
#include <cstdio>

// A large post reaches the spool in writes of this size, which lets the
// page cache hold it in large folios: the spool is then cheaper to write,
// to map for every envelope, and to remove.
constexpr std::size_t input_block_bytes = 1024 * 1024;

struct message_input {
  std::FILE* stream = nullptr;
  char* next = nullptr;  // first unread byte of block
  char* end = nullptr;   // one past the last byte read into block
  bool ended = false;
  char block[input_block_bytes];
};

void start_input(message_input& in, std::FILE* stream);
bool refill(message_input& in);
std::size_t read_line(message_input& in, char* buffer, std::size_t capacity);

inline int next_byte(message_input& in) {
  if (in.next == in.end && !refill(in)) return -1;
  return static_cast<unsigned char>(*in.next++);
}

// The byte is still in the block: a refill only happens when the block is
// used up, and it puts the first new byte at its start.
inline void push_back_byte(message_input& in) { --in.next; }
