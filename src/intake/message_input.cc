#include "intake/message_input.h"

#include <sysexits.h>

#include <cerrno>
#include <cstring>

#include "driver/fatal.h"

void start_input(message_input& in, std::FILE* stream) {
  in.stream = stream;
  in.next = in.end = in.block;
  in.ended = false;
}

bool refill(message_input& in) {
  if (in.ended) return false;
  // A large request goes straight from the descriptor into the block.
  std::size_t got = std::fread(in.block, 1, sizeof in.block, in.stream);
  // A message cut short by a failing read must not go out as if whole.
  if (got < sizeof in.block && std::ferror(in.stream))
    fatal(EX_TEMPFAIL, "skerla: error reading message:\n%s\n", std::strerror(errno));
  in.next = in.block;
  in.end = in.block + got;
  if (got == 0) in.ended = true;
  return got > 0;
}

std::size_t read_line(message_input& in, char* buffer, std::size_t capacity) {
  std::size_t length = 0;
  while (length + 1 < capacity) {
    if (in.next == in.end && !refill(in)) break;
    std::size_t room = capacity - 1 - length;
    std::size_t available = static_cast<std::size_t>(in.end - in.next);
    std::size_t take = available < room ? available : room;
    const void* lf = std::memchr(in.next, '\n', take);
    if (lf) take = static_cast<std::size_t>(static_cast<const char*>(lf) - in.next) + 1;
    std::memcpy(buffer + length, in.next, take);
    in.next += take;
    length += take;
    if (lf) break;
  }
  buffer[length] = '\0';
  return length;
}
