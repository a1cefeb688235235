// smtp_replies.h - what sendmail answers, passed on to standard output.
//   read_replies(r)   one read from r.fd (non-blocking): the bytes are held
//                     for standard output, and each final reply line
//                     ("250 ok", not "250-...") is counted, the watched one
//                     kept. 1 when something was read, 0 at the end of the
//                     input or on an error, -1 when nothing is there yet
//   pass_on_replies(r)  write what is held to standard output, unchanged
// The dialogue is still written without waiting for answers; only the
// answer to DATA is waited for, so that the message never reaches an MTA
// that refused the transaction and would read its lines as commands.
#pragma once

#include <cstddef>

struct reply_reader {
  int fd = -1;
  int finals = 0;               // final reply lines seen
  int watched = 0;              // which final reply to keep, counting from 1
  char watched_reply[128] = {}; // that reply, without its line end
  char line[128] = {};          // the start of the line being read
  std::size_t line_length = 0;  // its length so far (may exceed what is kept)
  char held[4096];              // read, not yet passed on: one write a child
  std::size_t held_length = 0;
};

int read_replies(reply_reader& r);
void pass_on_replies(reply_reader& r);
