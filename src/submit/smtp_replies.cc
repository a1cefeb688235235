#include "submit/smtp_replies.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

// pass_on - the replies still reach standard output, as they always did.
void pass_on(const char* bytes, std::size_t length) {
  while (length > 0) {
    ssize_t wrote = write(1, bytes, length);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return;
    bytes += wrote;
    length -= static_cast<std::size_t>(wrote);
  }
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// end_line - a reply line begins with a three-digit code and is final unless
// a hyphen follows it; any other line the MTA prints is passed on uncounted.
void end_line(reply_reader& r) {
  std::size_t kept = r.line_length < sizeof r.line ? r.line_length : sizeof r.line - 1;
  while (kept > 0 && (r.line[kept - 1] == '\r' || r.line[kept - 1] == '\n')) --kept;
  bool is_reply = kept >= 3 && is_digit(r.line[0]) && is_digit(r.line[1]) && is_digit(r.line[2]);
  if (is_reply && (kept == 3 || r.line[3] != '-')) {
    if (++r.finals == r.watched) {
      std::memcpy(r.watched_reply, r.line, kept);
      r.watched_reply[kept] = '\0';
    }
  }
  r.line_length = 0;
}

}  // namespace

void pass_on_replies(reply_reader& r) {
  pass_on(r.held, r.held_length);
  r.held_length = 0;
}

int read_replies(reply_reader& r) {
  if (sizeof r.held - r.held_length < sizeof r.held / 4) pass_on_replies(r);
  char* bytes = r.held + r.held_length;
  ssize_t got;
  do got = read(r.fd, bytes, sizeof r.held - r.held_length);
  while (got < 0 && errno == EINTR);
  if (got < 0 && errno == EAGAIN) return -1;
  if (got <= 0) return 0;
  r.held_length += static_cast<std::size_t>(got);
  for (ssize_t i = 0; i < got; ++i) {
    if (r.line_length < sizeof r.line - 1) r.line[r.line_length] = bytes[i];
    ++r.line_length;
    if (bytes[i] == '\n') end_line(r);
  }
  return 1;
}
