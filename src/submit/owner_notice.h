// owner_notice.h - the diverted message, wrapped for the list owner.
//   send_to_owner(s, owner, reason)  DATA, To/Subject/Content-type/MIME-Version
//                                    lines, an empty line, the spool as a
//                                    message/rfc822 body dot-stuffed, "."
//                                    Exits EX_NOINPUT "can't open %s (%s)\n"
//                                    when the spool cannot be reopened.
#pragma once

struct submission;

void send_to_owner(submission* s, const char* owner, const char* reason);
