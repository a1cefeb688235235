#include "intake/header_field_reader.h"

header_piece read_header_field(char* buffer, int capacity, message_input& in,
                               bool continues) {
  const std::size_t limit = static_cast<std::size_t>(capacity) - 1;
  header_piece piece;
  bool at_line_start = true;
  std::size_t length = 0;
  for (;;) {
    int c = next_byte(in);
    if (c < 0) break;
    if (length == 0 && c == '\n' && !continues) return piece;  // empty line
    if (at_line_start && length > 0 && c != ' ' && c != '\t') {
      push_back_byte(in);  // it begins the next field
      break;
    }
    buffer[length++] = static_cast<char>(c);
    at_line_start = c == '\n';
    if (length == limit) {
      // Full. The field goes on unless it ended exactly here: after an LF
      // only a continuation line carries it on, and the end of input ends it.
      int after = next_byte(in);
      if (after >= 0) {
        push_back_byte(in);
        piece.cut = !at_line_start || after == ' ' || after == '\t';
      }
      break;
    }
  }
  if (length == 0) return piece;  // the end of input
  buffer[length] = '\0';
  piece.text = buffer;
  piece.length = length;
  return piece;
}
