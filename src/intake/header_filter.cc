#include "intake/header_filter.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "driver/run_settings.h"
#include "intake/added_fields.h"
#include "intake/header_field_reader.h"
#include "intake/header_notes.h"
#include "intake/header_rules.h"
#include "intake/keywords.h"
#include "intake/message_input.h"

const char* author_address = nullptr;
std::time_t spool_time = 0;

namespace {

constexpr int field_buffer_bytes = 32768;
constexpr int body_lines_scanned = 5;
constexpr int most_body_lines_of_command = 7;

const char* const body_command_phrases[] = {"delete me", "remove me", "subscribe",
                                            "unsubscribe"};

// One spooling: the stream, the first failed write's errno, what was seen.
struct intake {
  std::FILE* out = nullptr;
  int write_error = 0;
  header_notes notes;
  int body_lines = 0;
  bool spool_rewound = false;  // written bytes were taken back: truncate
};

void put(intake& s, const char* bytes, std::size_t length) {
  if (length && std::fwrite(bytes, 1, length, s.out) != length && !s.write_error)
    s.write_error = errno;
}

// put_direct - the body's blocks bypass the stream's buffer, which would
// split each one into two writes; the stream must have been flushed.
void put_direct(intake& s, int fd, const char* bytes, std::size_t length) {
  while (length > 0 && !s.write_error) {
    ssize_t done = write(fd, bytes, length);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) {
      s.write_error = done < 0 ? errno : EIO;
      break;
    }
    bytes += done;
    length -= static_cast<std::size_t>(done);
  }
}

// note_stream_error - formatted writes are checked after the fact; errno
// still holds the failure right after the call that failed.
void note_stream_error(intake& s) {
  if (std::ferror(s.out) && !s.write_error) s.write_error = errno ? errno : EIO;
}

bool ends_header(char c) { return c == '\n' || c == '\r' || c == '\0'; }

// body_line - copy one body line; the first few are searched for commands.
// line[length] is overwritten for the search and put back.
void body_line(intake& s, char* line, std::size_t length) {
  if (s.body_lines < body_lines_scanned && !s.notes.command_seen) {
    char saved = line[length];
    line[length] = '\0';
    for (const char* phrase : body_command_phrases)
      if (contains_word(line, phrase)) {
        s.notes.command_seen = true;
        break;
      }
    line[length] = saved;
  }
  ++s.body_lines;
  put(s, line, length);
}

// The states of a field across its pieces. A field that matched no rule and
// whose first piece holds nothing but SP and TAB is written on trial: the
// line's first other byte tells whether it is a field or the header's end.
enum class field_state { keep, drop, blank_on_trial, header_end_line };

// header_loop - write the kept fields; return the bytes of the last piece
// that come after the line that ended the header (body lines that the reader
// folded into it), with their count in *rest_length.
char* header_loop(intake& s, message_input& input, char* field_buffer,
                  std::size_t* rest_length) {
  char* rest = nullptr;
  *rest_length = 0;
  field_state state = field_state::keep;
  bool line_open = false;  // the last header byte written is not an LF
  long trial_start = -1;   // spool offset of a blank field on trial
  bool trial_line_open = false;
  header_piece piece;
  for (;;) {
    const bool continues = piece.cut;
    piece = read_header_field(field_buffer, field_buffer_bytes, input, continues);
    if (!piece.text) break;
    char* text = piece.text;
    std::size_t line_end_from = 0;

    // The default rule ends the header at a line of SP and TAB, or at one
    // whose first other byte is CR (a CR LF header's empty line) or NUL.
    // A cut piece of blanks alone does not say yet which it is.
    bool decide_default = false;
    if (!continues) {
      switch (fate_of_field(s.notes, text)) {
        case field_fate::keep: state = field_state::keep; break;
        case field_fate::drop: state = field_state::drop; break;
        case field_fate::unmatched:
          state = field_state::keep;
          decide_default = true;
          break;
      }
    } else {
      decide_default = state == field_state::blank_on_trial;
    }
    if (decide_default) {
      std::size_t blank = std::strspn(text, " \t");
      if (blank == piece.length && piece.cut) {
        if (state != field_state::blank_on_trial) {
          state = field_state::blank_on_trial;
          trial_start = std::ftell(s.out);
          trial_line_open = line_open;
        }
      } else if (blank < piece.length && !ends_header(text[blank])) {
        state = field_state::keep;
      } else {
        if (state == field_state::blank_on_trial) {
          // It was the header's end after all: take back what was written.
          if (std::fseek(s.out, trial_start, SEEK_SET) != 0 && !s.write_error)
            s.write_error = errno;
          s.spool_rewound = true;
          line_open = trial_line_open;
        }
        state = field_state::header_end_line;
        line_end_from = blank;
      }
    }

    if (state == field_state::keep || state == field_state::blank_on_trial) {
      put(s, text, piece.length);
      line_open = text[piece.length - 1] != '\n';
    } else if (state == field_state::header_end_line) {
      auto* lf = static_cast<char*>(
          std::memchr(text + line_end_from, '\n', piece.length - line_end_from));
      if (lf) {
        rest = lf + 1;
        *rest_length = piece.length - static_cast<std::size_t>(rest - text);
        break;
      }
      if (!piece.cut) break;  // the input ended on that line
    }
  }
  // Input that ends inside a kept field: close its line, so the added fields
  // do not run on from it.
  if (line_open) put(s, "\n", 1);
  return rest;
}

}  // namespace

message_class spool_message(std::FILE* out, std::FILE* in) {
  static message_input input;
  char field_buffer[field_buffer_bytes];
  intake s;
  s.out = out;
  author_address = nullptr;

  spool_time = std::time(nullptr);
  write_received_field(out, spool_time);
  note_stream_error(s);

  start_input(input, in);
  std::size_t rest_length = 0;
  char* rest = header_loop(s, input, field_buffer, &rest_length);

  write_added_fields(out, s.notes, spool_time);
  note_stream_error(s);

  // Lines that followed the header's last line inside its piece are body.
  while (rest_length > 0) {
    auto* lf = static_cast<char*>(std::memchr(rest, '\n', rest_length));
    std::size_t length = lf ? static_cast<std::size_t>(lf - rest) + 1 : rest_length;
    body_line(s, rest, length);
    rest += length;
    rest_length -= length;
  }
  while (s.body_lines <= most_body_lines_of_command) {
    std::size_t length = read_line(input, field_buffer, sizeof field_buffer);
    if (length == 0) break;
    body_line(s, field_buffer, length);
  }
  // Past the lines that can matter: the rest goes across block by block,
  // straight to the descriptor where there is one, as a plain copy would.
  if (std::fflush(out) != 0 && !s.write_error) s.write_error = errno;
  int out_fd = fileno(out);
  do {
    if (out_fd >= 0)
      put_direct(s, out_fd, input.next, static_cast<std::size_t>(input.end - input.next));
    else
      put(s, input.next, static_cast<std::size_t>(input.end - input.next));
  } while (refill(input));
  input.next = input.end;

  if (std::fflush(out) != 0 && !s.write_error) s.write_error = errno;
  note_stream_error(s);
  if (s.spool_rewound && fileno(out) >= 0 && ftruncate(fileno(out), std::ftell(out)) != 0 &&
      !s.write_error)
    s.write_error = errno;

  // A spool that failed to be written is never diverted either: the owner
  // would get a message cut short, and the MTA would count it delivered.
  if (s.write_error) {
    errno = s.write_error;
    return message_class::spool_error;
  }
  if (s.notes.bounce_seen && !s.notes.approved_seen) return message_class::bounce;
  if (s.notes.command_seen && !s.notes.approved_seen && settings.check_commands &&
      s.body_lines <= most_body_lines_of_command)
    return message_class::list_command;
  return message_class::deliver;
}
