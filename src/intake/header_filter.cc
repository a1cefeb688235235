#include "intake/header_filter.h"

#include <sysexits.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "driver/fatal.h"
#include "driver/run_settings.h"
#include "intake/added_fields.h"
#include "intake/header_field_reader.h"
#include "intake/header_notes.h"
#include "intake/keywords.h"
#include "intake/message_input.h"
#include "recipients/prefrobnicate.h"

const char* author_address = nullptr;
std::time_t spool_time = 0;

namespace {

constexpr int field_buffer_bytes = 32768;
constexpr int body_lines_scanned = 5;
constexpr int most_body_lines_of_command = 7;
constexpr std::size_t longest_from_text = 1023;  // colon and line end included

char author_buffer[longest_from_text + 1];

enum class rule {
  approved, content_type, drop, from, list_field, message_id, reply_to, keep,
  return_path, sender, subject, report_type,
};

struct header_rule {
  const char* name;
  rule action;
};

constexpr header_rule header_rules[] = {
    {"approved", rule::approved},
    {"content-type", rule::content_type},
    {"content-length", rule::drop},
    {"disposition-notification-to", rule::drop},
    {"errors-to", rule::drop},
    {"from", rule::from},
    {"list-archive", rule::list_field},
    {"list-help", rule::list_field},
    {"list-id", rule::list_field},
    {"list-owner", rule::list_field},
    {"list-post", rule::list_field},
    {"list-subscribe", rule::list_field},
    {"list-unsubscribe", rule::list_field},
    {"mail-followup-to", rule::drop},
    {"message-id", rule::message_id},
    {"precedence", rule::drop},
    {"reply-to", rule::reply_to},
    {"resent-to", rule::keep},
    {"return-path", rule::return_path},
    {"return-receipt-to", rule::drop},
    {"sender", rule::sender},
    {"subject", rule::subject},
    {"transport-options", rule::drop},
    {"x-confirm-reading-to", rule::drop},
    {"x-pmrqc", rule::drop},
    {"x-report-type", rule::report_type},
};

const char* const subject_command_words[] = {"subscribe", "unsubscribe", "help"};

const char* const bounce_subject_phrases[] = {
    "automatic log from mail gateway", "delivery confirmation", "delivery error",
    "delivery failure", "delivery problems", "delivery report", "delivery status",
    "failed mail", "mail failure", "mail system problem", "message delayed",
    "non-delivery of:", "non-delivery notification", "non-delivery report",
    "nondelivery notification", "rcpt:", "receipt confirmation", "returned mail",
    "service message", "undeliverable mail", "undeliverable message",
    "undelivered mail", "waiting mail", "warning from uucp", "warning message",
    "warning: cannot send mail",
};

const char* const body_command_phrases[] = {"delete me", "remove me", "subscribe",
                                            "unsubscribe"};

const char* const daemon_return_paths[] = {"mailer-daemon", "mmdf", "uucp"};

template <std::size_t n>
bool contains_any_word(const char* text, const char* const (&words)[n]) {
  for (const char* word : words)
    if (contains_word(text, word)) return true;
  return false;
}

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

// note_stream_error - formatted writes are checked after the fact; errno
// still holds the failure right after the call that failed.
void note_stream_error(intake& s) {
  if (std::ferror(s.out) && !s.write_error) s.write_error = errno ? errno : EIO;
}

enum class field_fate { keep, drop, unmatched };

// fate_of_field - the rules, on a field's first piece; they see the piece
// up to any NUL byte in it.
field_fate fate_of_field(intake& s, const char* text) {
  // The mailbox separator, and a From field with a space before its colon.
  if (std::strncmp(text, "From ", 5) == 0) return field_fate::drop;
  if (field_name_is("to", text) || field_name_is("cc", text) || field_name_is("bcc", text)) {
    s.notes.recipient_field_seen = true;
    return field_fate::keep;
  }
  for (const header_rule& r : header_rules) {
    if (!field_name_is(r.name, text)) continue;
    const char* value = std::strchr(text, ':') + 1;
    switch (r.action) {
      case rule::approved:
        s.notes.approved_seen = true;
        return field_fate::drop;
      case rule::content_type:
        value += std::strspn(value, " \t");
        if (std::strncmp(value, "multipart/report", 16) == 0) s.notes.bounce_seen = true;
        return field_fate::keep;
      case rule::drop:
        return field_fate::drop;
      case rule::from:
        author_address = nullptr;
        if (std::strlen(value - 1) <= longest_from_text) {
          // Within the limit prefrobnicate never refuses, and its result, no
          // longer than its input, fits; one buffer serves every From field.
          std::snprintf(author_buffer, sizeof author_buffer, "%s", prefrobnicate(value));
          author_address = author_buffer;
        }
        return field_fate::keep;
      case rule::list_field:
        return settings.delete_list_headers ? field_fate::drop : field_fate::unmatched;
      case rule::message_id:
        s.notes.message_id_seen = true;
        return field_fate::keep;
      case rule::reply_to:
        if (settings.force_reply_to) return field_fate::drop;
        s.notes.reply_to_seen = true;
        return field_fate::keep;
      case rule::keep:
        return field_fate::keep;
      case rule::return_path: {
        const char* address = prefrobnicate(value);
        bool from_daemon = !*address;
        for (const char* prefix : daemon_return_paths)
          from_daemon = from_daemon || has_prefix(address, prefix);
        if (!from_daemon) return field_fate::drop;
        s.notes.bounce_seen = true;
        return field_fate::keep;
      }
      case rule::sender:
        if (contains_word(value, "mailer-daemon@"))
          fatal(EX_DATAERR, "skerla: refusing to forward bounced mail to the list\n");
        return field_fate::keep;
      case rule::subject:
        for (const char* word : subject_command_words)
          if (leading_word_is(value, word)) {
            s.notes.command_seen = true;
            return field_fate::keep;
          }
        if (contains_any_word(value, bounce_subject_phrases)) s.notes.bounce_seen = true;
        return field_fate::keep;
      case rule::report_type:
        if (contains_word(value, "nondelivery")) s.notes.bounce_seen = true;
        return field_fate::keep;
    }
  }
  return field_fate::unmatched;
}

bool ends_header(char c) { return c == '\n' || c == '\r' || c == '\0'; }

// body_line - copy one body line; the first few are searched for commands.
// line[length] is overwritten for the search and put back.
void body_line(intake& s, char* line, std::size_t length) {
  if (s.body_lines < body_lines_scanned && !s.notes.command_seen) {
    char saved = line[length];
    line[length] = '\0';
    if (contains_any_word(line, body_command_phrases)) s.notes.command_seen = true;
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
      switch (fate_of_field(s, text)) {
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
  // Past the lines that can matter: the rest goes across block by block.
  put(s, input.next, static_cast<std::size_t>(input.end - input.next));
  while (refill(input)) put(s, input.next, static_cast<std::size_t>(input.end - input.next));
  input.next = input.end;

  if (std::fflush(out) != 0 && !s.write_error) s.write_error = errno;
  note_stream_error(s);
  if (s.spool_rewound && fileno(out) >= 0 && ftruncate(fileno(out), std::ftell(out)) != 0 &&
      !s.write_error)
    s.write_error = errno;

  if (s.notes.bounce_seen && !s.notes.approved_seen) return message_class::bounce;
  if (s.notes.command_seen && !s.notes.approved_seen && settings.check_commands &&
      s.body_lines <= most_body_lines_of_command)
    return message_class::list_command;
  if (s.write_error) {
    errno = s.write_error;
    return message_class::spool_error;
  }
  return message_class::deliver;
}
