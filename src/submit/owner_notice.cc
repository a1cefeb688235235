#include "submit/owner_notice.h"

#include <unistd.h>

#include "submit/submission.h"

void send_to_owner(submission* s, const char* owner, const char* reason) {
  int spool_fd = open_spool_for_data(s);
  if (spool_fd < 0) return;
  if (!start_data(s)) {
    close(spool_fd);
    return;
  }
  write_text(s, "To: ");
  write_text(s, owner);
  write_text(s, "\nSubject: ");
  write_text(s, reason);
  write_text(s, "\nContent-type: message/rfc822\nMIME-Version: 1.0\n\n");
  if (write_stuffed_spool(s, spool_fd)) write_text(s, ".\n");
  close(spool_fd);
}
