// header_filter.h - read the message, write the spool, classify the message.
//   spool_message(out, in)  copy `in` into the spool stream `out`: Received
//                           field, kept header fields, added fields, empty
//                           line, body; flushes `out` and returns the class.
//                           A failed spool write is spool_error whatever else
//                           was seen, with errno holding its error. Exits
//                           EX_DATAERR on a mailer-daemon Sender, EX_TEMPFAIL
//                           when standard input cannot be read.
//   author_address          canonical address of the last From field, or
//                           nullptr; owned by the process, never freed
//   spool_time              the instant spooling started
// Every byte of a kept field and of the body reaches the spool, NUL bytes and
// fields of any length included; the rules look at a field's first 32767
// bytes, up to any NUL.
#pragma once

#include <cstdio>
#include <ctime>

enum class message_class { deliver = 0, list_command = 1, bounce = 2, spool_error = 3 };

extern const char* author_address;
extern std::time_t spool_time;

message_class spool_message(std::FILE* out, std::FILE* in);
