// spool_message_fuzzer - the header reader and header filter over a whole
// message. The first input byte picks settings (bit 0 -delete-list-hdrs,
// bit 1 -reply-to with its force, bit 2 -s, bit 3 run-length form below);
// the rest is the message. The spool must be exactly: the Received field,
// the input's header fields less the dropped ones, byte for byte, one LF
// when the input ended inside a kept field, the added fields, the empty
// line, and every input byte after the line that ended the header. The
// class must be the one the notes and the body's first lines call for.
//
// Which fields the filter drops is asked of the rule table itself
// (fate_of_field, on the field's first 32767 bytes up to any NUL); where
// fields begin and end, where the header ends and what is copied is worked
// out here from the bytes alone, so cuts, trials and rewinds are checked.
//
// Run-length form: "\xFE" c hi lo stands for byte c repeated hi * 256 + lo
// times, so short inputs reach fields of 32767 bytes and beyond.
//
// A Sender naming "mailer-daemon@" ends the process by design; inputs that
// hold that text anywhere are skipped.
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "driver/run_settings.h"
#include "fuzz/fuzz_support.h"
#include "intake/added_fields.h"
#include "intake/header_filter.h"
#include "intake/header_notes.h"
#include "intake/header_rules.h"
#include "intake/keywords.h"

namespace {

constexpr std::size_t piece_bytes = 32767;
constexpr std::size_t most_decoded_bytes = 1 << 20;

int spool_fd = -1;
std::FILE* spool = nullptr;

std::string decode(const std::uint8_t* data, std::size_t size, bool run_length) {
  if (!run_length) return std::string(reinterpret_cast<const char*>(data), size);
  std::string out;
  for (std::size_t i = 0; i < size && out.size() < most_decoded_bytes; ++i) {
    if (data[i] == 0xFE && i + 3 < size) {
      out.append(static_cast<std::size_t>(data[i + 2]) * 256 + data[i + 3],
                 static_cast<char>(data[i + 1]));
      i += 3;
    } else {
      out.push_back(static_cast<char>(data[i]));
    }
  }
  return out;
}

bool names_daemon_sender(const std::string& message) {
  // Found by its at sign, so long inputs cost one scan.
  constexpr std::size_t name_bytes = 13;  // "mailer-daemon"
  for (std::size_t at = message.find('@'); at != std::string::npos; at = message.find('@', at + 1))
    if (at >= name_bytes &&
        strncasecmp(message.data() + at - name_bytes, "mailer-daemon", name_bytes) == 0)
      return true;
  return false;
}

std::string read_spool() {
  check(std::fflush(spool) == 0, "flush the spool");
  std::string text;
  char block[65536];
  off_t at = 0;
  for (ssize_t got; (got = pread(spool_fd, block, sizeof block, at)) > 0; at += got)
    text.append(block, static_cast<std::size_t>(got));
  return text;
}

// what_stream_writes - the text that a writer of added_fields.h puts out.
template <typename writer>
std::string what_stream_writes(writer write) {
  char* text = nullptr;
  std::size_t length = 0;
  std::FILE* out = open_memstream(&text, &length);
  check(out != nullptr, "open_memstream");
  write(out);
  std::fclose(out);
  std::string copy(text, length);
  std::free(text);
  return copy;
}

bool blank(char c) { return c == ' ' || c == '\t'; }

struct expected_spool {
  std::string kept;       // the kept fields, one after another
  std::size_t body_from;  // where the body starts in the message
  std::size_t rest_end;   // end of the piece that ended the header, or body_from
  header_notes notes;
};

// expect - the header as a reader of lines sees it: a field runs to the
// first LF that is not followed by SP or TAB, or to the end of input.
expected_spool expect(const std::string& m) {
  expected_spool e;
  std::size_t at = 0;
  e.body_from = e.rest_end = m.size();
  while (at < m.size()) {
    if (m[at] == '\n') {  // the empty line
      e.body_from = e.rest_end = at + 1;
      return e;
    }
    std::size_t end = at;
    for (;;) {
      std::size_t lf = m.find('\n', end);
      if (lf == std::string::npos) {
        end = m.size();
        break;
      }
      end = lf + 1;
      if (end == m.size() || !blank(m[end])) break;
    }
    const std::string field = m.substr(at, end - at);
    const std::string first_piece = field.substr(0, piece_bytes);
    switch (fate_of_field(e.notes, first_piece.c_str())) {
      case field_fate::keep:
        e.kept += field;
        break;
      case field_fate::drop:
        break;
      case field_fate::unmatched: {
        std::size_t first = 0;
        while (first < field.size() && blank(field[first])) ++first;
        char c = first < field.size() ? field[first] : '\n';
        if (c != '\n' && c != '\r' && c != '\0') {
          e.kept += field;
          break;
        }
        // The header ends on this line; what follows its LF is body, and
        // the piece it lies in is split into lines on LF alone.
        std::size_t lf = field.find('\n');
        if (lf == std::string::npos) return e;  // the input ends here
        e.body_from = at + lf + 1;
        e.rest_end = at + std::min(field.size(), (lf / piece_bytes + 1) * piece_bytes);
        return e;
      }
    }
    at = end;
  }
  return e;
}

// body_says_command - the first five body lines as the filter reads them:
// the rest of the header's last piece split on LF, then reads of at most
// 32767 bytes; each line is searched up to any NUL. *lines counts up to 8.
bool body_says_command(const std::string& m, const expected_spool& e, int* lines) {
  static const char* const phrases[] = {"delete me", "remove me", "subscribe", "unsubscribe"};
  bool seen = false;
  *lines = 0;
  std::size_t at = e.body_from;
  while (at < m.size() && *lines < 8) {
    std::size_t limit = at < e.rest_end ? e.rest_end : std::min(m.size(), at + piece_bytes);
    std::size_t lf = m.find('\n', at);
    std::size_t end = lf != std::string::npos && lf < limit ? lf + 1 : limit;
    if (*lines < 5) {
      const std::string line = m.substr(at, end - at);
      for (const char* phrase : phrases)
        if (contains_word(line.c_str(), phrase)) seen = true;
    }
    ++*lines;
    at = end;
  }
  return seen;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  quiet_program_messages();
  spool_fd = memory_file();
  spool = fdopen(spool_fd, "w+");
  check(spool != nullptr, "fdopen the spool");
  settings.local_domain = "example.org";
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t flags = data[0];
  const std::string message = decode(data + 1, size - 1, flags & 8);
  if (names_daemon_sender(message)) return 0;
  settings.delete_list_headers = flags & 1;
  settings.force_reply_to = flags & 2 ? 1 : 0;
  settings.reply_to = flags & 2 ? "list@example.org" : nullptr;
  settings.check_commands = flags & 4 ? 1 : 0;

  std::rewind(spool);
  check(ftruncate(spool_fd, 0) == 0, "truncate the spool");
  std::FILE* in = fmemopen(const_cast<char*>(message.data()), message.size(), "r");
  if (message.empty()) in = std::fopen("/dev/null", "r");
  check(in != nullptr, "open the input");
  const message_class got = spool_message(spool, in);
  std::fclose(in);
  const std::string spool_text = read_spool();

  const expected_spool e = expect(message);
  const bool line_open = !e.kept.empty() && e.kept.back() != '\n';
  const std::string want =
      what_stream_writes([](std::FILE* out) { write_received_field(out, spool_time); }) +
      e.kept + (line_open ? "\n" : "") +
      what_stream_writes([&e](std::FILE* out) { write_added_fields(out, e.notes, spool_time); }) +
      message.substr(e.body_from);
  check(spool_text == want, "spool differs from the input less its dropped fields");

  int body_lines = 0;
  const bool body_command = body_says_command(message, e, &body_lines);
  const bool command = e.notes.command_seen || body_command;
  message_class want_class = message_class::deliver;
  if (e.notes.bounce_seen && !e.notes.approved_seen)
    want_class = message_class::bounce;
  else if (command && !e.notes.approved_seen && settings.check_commands && body_lines <= 7)
    want_class = message_class::list_command;
  check(got == want_class, "class differs from what the notes and body call for");
  return 0;
}
