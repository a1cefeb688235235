// main.cc - one post, from the command line to the exit status.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sysexits.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "driver/command_line.h"
#include "driver/fatal.h"
#include "driver/local_domain.h"
#include "driver/run_settings.h"
#include "driver/spool_file.h"
#include "intake/header_filter.h"
#include "recipients/envelopes.h"
#include "recipients/recipient_list.h"
#include "submit/owner_notice.h"
#include "submit/submission.h"

namespace {

// open_standard_descriptors - a closed descriptor 0, 1 or 2 would be handed
// to the spool or a pipe, and the dialogue or replies would land in it.
void open_standard_descriptors() {
  for (int fd = 0; fd <= 2; ++fd)
    if (fcntl(fd, F_GETFD) < 0 && errno == EBADF &&
        open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY) != fd)
      std::abort();
}

std::int64_t spool_size() {
  struct stat status;
  if (fstat(fileno(spool_file), &status) != 0) return INT32_MAX;
  return status.st_size;
}

[[noreturn]] void finish(int status) {
  remove_spool();
  std::exit(status);
}

[[noreturn]] void divert_to_owner(const char* reason) {
  close_spool_stream();
  submission* s = open_submission();
  write_recipient(s, settings.owner_address);
  send_to_owner(s, settings.owner_address, reason);
  // The post is the owner's only copy: if it did not go, the MTA keeps it.
  finish(close_submission(s) ? EX_OK : EX_TEMPFAIL);
}

[[noreturn]] void refuse_non_subscriber() {
  std::fputs("skerla: The author of this message\n", stderr);
  if (author_address) std::fprintf(stderr, "<%s>\n", author_address);
  std::fputs(
      "is not subscribed to this mailing list,\n"
      "and the mailing list administrator\n"
      "has configured this list to refuse\n"
      "contributions from non-subscribers.\n"
      "The message is therefore being returned.\n",
      stderr);
  finish(EX_NOPERM);
}

}  // namespace

int main(int argc, char** argv) {
  open_standard_descriptors();
  install_out_of_memory_handler();
  // A sendmail that stops reading is a failed submission, not the end of us.
  signal(SIGPIPE, SIG_IGN);

  parse_command_line(argc, argv);
  if (!settings.local_domain) find_local_domain();

  // Copy and classify the message; from here on every exit removes the spool.
  create_spool();
  switch (spool_message(spool_file, stdin)) {
    case message_class::spool_error:
      fatal(EX_TEMPFAIL, "skerla: error writing temp file:\n%s\n", std::strerror(errno));
    case message_class::list_command:
      divert_to_owner("message appears to have a list server command");
    case message_class::bounce:
      divert_to_owner("this looks like a bounced message");
    case message_class::deliver:
      break;
  }

  // A list post: the administrative size limit comes first.
  std::int64_t size = spool_size();
  if (size > settings.max_size)
    fatal(EX_NOPERM,
          "skerla: message size (%lld bytes) exceeds administrative limit\n",
          static_cast<long long>(size));
  close_spool_stream();

  // The subscribers, and on a private list the author's right to post.
  load_recipients();
  if (settings.private_list && !author_is_subscriber) refuse_non_subscriber();

  // Hand it over; tell the MTA to keep it when no envelope went out.
  deliver_in_envelopes();
  finish(submissions_failed > 0 && submissions_handed_over == 0 ? EX_TEMPFAIL : EX_OK);
}
