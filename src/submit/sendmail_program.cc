// sendmail_program.cc - the path of the MTA's sendmail interface.
// Fixed at build time: the installed program always runs /usr/sbin/sendmail;
// the test build of the same sources points at the tests' stand-in.
#include "submit/submission.h"

#ifndef SKERLA_SENDMAIL
#error "SKERLA_SENDMAIL must name the sendmail program"
#endif

extern const char sendmail_program[] = SKERLA_SENDMAIL;
