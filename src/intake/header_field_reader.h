// header_field_reader.h - cut a message header into logical fields.
//   read_header_field(buffer, capacity, in, continues)
//       the next piece of the header: a field's first line with its
//       continuation lines (lines that begin with SP or TAB), line ends kept,
//       CR an ordinary byte, NUL-terminated in buffer (overwritten by the next
//       call). A field longer than capacity - 1 bytes comes in several pieces;
//       `cut` says another piece of the same field follows, and the caller
//       passes it back as `continues` on the next call, so that an LF met
//       first after a cut is taken as the field's line end, not as the empty
//       line that ends the header. Returns text nullptr at the end of the
//       header: an empty line (its LF consumed) or the end of input.
// Reads exactly one byte beyond each piece and pushes it back.
#pragma once

#include <cstddef>

#include "intake/message_input.h"

struct header_piece {
  char* text = nullptr;     // buffer, or nullptr at the end of the header
  std::size_t length = 0;   // bytes stored; NUL bytes of the input included
  bool cut = false;         // the field goes on in the next piece
};

header_piece read_header_field(char* buffer, int capacity, message_input& in,
                               bool continues);
