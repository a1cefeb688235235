// submission.h - one blind SMTP transaction into `sendmail -bs`.
//   open_submission()        start "<sendmail> -bs <flags>" through the shell
//                            (standard error with -debug) and write HELO, ONEX
//                            and MAIL FROM; exits EX_OSERR "can't open pipe to
//                            sendmail: %s\n" while no envelope went out yet
//   write_recipient(s, a)    "RCPT TO:<a>\n"
//   write_recipient_at(s, l, d)  "RCPT TO:<l@d>\n", composed from its parts
//   send_spool_data(s)       DATA, the spool dot-stuffed, "."; exits
//                            EX_NOINPUT "can't open %s (%s)\n" while no
//                            envelope went out yet
//   close_submission(s)      QUIT, close, wait for the child; true when the MTA
//                            took the transaction, else reports
//                            "skerla: sendmail failed: %s\n" and returns false
//   submissions_handed_over, submissions_failed   counts for the exit status
// At most one submission is open; its storage is static. The child's answers
// go on to standard output; only the answer to DATA is waited for, and the
// message is held back unless it is 354.
#pragma once

#include <cstddef>
#include <string_view>

#include "submit/smtp_replies.h"

struct submission;

extern const char sendmail_program[];  // fixed at build time
extern int submissions_handed_over;
extern int submissions_failed;

submission* open_submission();
void write_recipient(submission* s, std::string_view address);
void write_recipient_at(submission* s, std::string_view local_part, std::string_view domain);
void send_spool_data(submission* s);
bool close_submission(submission* s);

// For the owner notice, which wraps the spool in lines of its own.
void write_text(submission* s, std::string_view text);
bool start_data(submission* s);  // "DATA\n"; false when the MTA refused it
int open_spool_for_data(submission* s);  // fd, or -1: reported, s failed
// The spool dot-stuffed; false, reported and counted failed, when it cannot
// be read to its end (the caller then leaves out the final ".").
bool write_stuffed_spool(submission* s, int spool_fd);
