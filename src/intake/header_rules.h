// header_rules.h - the fixed table that keeps, drops or notes a header field.
//   fate_of_field(notes, text)  the rules applied to a field's first piece,
//                               read up to its first NUL: keep, drop, or
//                               unmatched (the caller's default rule decides);
//                               sets flags in notes and, for From fields,
//                               author_address. Exits EX_DATAERR with
//                               "skerla: refusing to forward bounced mail to
//                               the list\n" on a mailer-daemon Sender.
#pragma once

#include "intake/header_notes.h"

enum class field_fate { keep, drop, unmatched };

field_fate fate_of_field(header_notes& notes, const char* text);
