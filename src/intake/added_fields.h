// added_fields.h - the list's own header fields and the trace date.
//   write_received_field(out, when)   "Received: by <local_domain>
//                                     (skerla v1.13); <date>\n"
//   format_trace_date(when)           "Sun, 7 Mar 2021 09:05:00 +0100" in the
//                                     local zone, the numeric zone worked out
//                                     from UTC and local time; static buffer,
//                                     overwritten by the next call
//   write_added_fields(out, notes, when)  Precedence, Comment, To, Reply-To,
//                                     Message-ID and the List-* fields that
//                                     the settings and notes call for, in that
//                                     order, then the empty line
// Writes go through the stream's buffering; errors stay in its error flag.
#pragma once

#include <cstdio>
#include <ctime>

#include "intake/header_notes.h"

const char* format_trace_date(std::time_t when);
void write_received_field(std::FILE* out, std::time_t when);
void write_added_fields(std::FILE* out, const header_notes& notes, std::time_t when);
