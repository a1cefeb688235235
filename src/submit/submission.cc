#include "submit/submission.h"

#include <fcntl.h>
#include <signal.h>
#include <poll.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <sysexits.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "driver/fatal.h"
#include "driver/run_settings.h"
#include "driver/short_copy.h"
#include "driver/spool_file.h"
#include "submit/dot_stuffing.h"
#include "submit/smtp_replies.h"

extern char** environ;

int submissions_handed_over = 0;
int submissions_failed = 0;

namespace {

constexpr std::size_t command_buffer_bytes = 32768;
constexpr std::size_t output_buffer_bytes = 65536;
constexpr std::size_t direct_write_bytes = 16384;  // larger spans skip the copy
constexpr std::size_t spool_block_bytes = 1 << 18;
// A multiple of the page size; fewer, larger mappings cost less per
// envelope, and the window bounds the memory a large post takes.
constexpr std::size_t spool_window_bytes = 2 << 20;
constexpr int data_answer_timeout_ms = 120 * 1000;

}  // namespace

struct submission {
  int fd;              // pipe to the child, standard error with -debug, or -1
  pid_t child;         // 0 when no child runs
  int write_error;     // first failed write into the pipe; later writes dropped
  bool failed;         // already reported; the MTA must not count it
  bool data_refused;   // DATA was not answered 354: the message was held back
  int commands;        // command lines written, for finding DATA's answer
  reply_reader replies;  // the child's standard output
  std::size_t used;
  char buffer[output_buffer_bytes];
};

namespace {

submission the_submission;

void stop_reading_replies(submission& s) {
  close(s.replies.fd);
  s.replies.fd = -1;
}

// wait_for_child - until the pipe to the child takes more, or (wanting_reply)
// until an answer comes; meanwhile its answers are read and passed on, so a
// child blocked on writing them never stalls the dialogue.
// False when a reply was wanted and none came within timeout_ms.
bool wait_for_child(submission& s, bool wanting_reply, int timeout_ms = -1) {
  pollfd watch[2] = {{s.replies.fd, POLLIN, 0}, {wanting_reply ? -1 : s.fd, POLLOUT, 0}};
  if (s.replies.fd < 0 && wanting_reply) return false;
  int ready = poll(watch, 2, timeout_ms);
  if (ready == 0) return false;
  if (ready > 0 && watch[0].revents && read_replies(s.replies) == 0) stop_reading_replies(s);
  return true;
}

// write_some - one write of the pieces, waiting while the pipe is full.
ssize_t write_some(submission& s, const iovec* pieces, int count) {
  for (;;) {
    ssize_t wrote = writev(s.fd, pieces, count);
    if (wrote >= 0 || errno == EINTR) return wrote < 0 ? 0 : wrote;
    if (errno != EAGAIN) return -1;
    wait_for_child(s, false);
  }
}

// write_pieces - all of them, in order; the first failed write is kept and
// everything after it is dropped.
void write_pieces(submission& s, iovec* next, int left) {
  while (left > 0 && s.fd >= 0 && !s.write_error) {
    ssize_t wrote = write_some(s, next, left);
    if (wrote < 0) {
      s.write_error = errno;
      return;
    }
    for (; left > 0 && static_cast<std::size_t>(wrote) >= next->iov_len; --left, ++next)
      wrote -= static_cast<ssize_t>(next->iov_len);
    if (left > 0) {
      next->iov_base = static_cast<char*>(next->iov_base) + wrote;
      next->iov_len -= static_cast<std::size_t>(wrote);
    }
  }
}

void write_all(submission& s, const char* data, std::size_t length) {
  iovec piece{const_cast<char*>(data), length};
  write_pieces(s, &piece, 1);
}

void flush(submission& s) {
  write_all(s, s.buffer, s.used);
  s.used = 0;
}

// put - buffer small pieces; hand large spans of the spool straight to write.
void put(submission& s, const char* data, std::size_t length) {
  if (length > sizeof s.buffer - s.used) flush(s);
  if (length >= direct_write_bytes) {
    flush(s);
    write_all(s, data, length);
    return;
  }
  std::memcpy(s.buffer + s.used, data, length);
  s.used += length;
}

// gathered_write - pieces of one block handed to writev together.
struct gathered_write {
  static constexpr int most_pieces = 256;
  submission& s;
  iovec pieces[most_pieces] = {};
  int count = 0;

  void add(const char* data, std::size_t length) {
    if (count == most_pieces) send();
    pieces[count++] = iovec{const_cast<char*>(data), length};
  }

  void send() {
    write_pieces(s, pieces, count);
    count = 0;
  }
};

// start_child - "<sendmail> -bs <flags>" run by the shell, as popen would,
// with a pipe to its standard input and one from its standard output. Both
// of our ends are non-blocking: writing waits in poll, reading its answers.
// False, with errno set, when the child cannot be started.
bool start_child(submission& s) {
  // The administrator's flags may be long; the command is cut here, once,
  // to what the buffer holds.
  char command[command_buffer_bytes];
  std::snprintf(command, sizeof command, "%s -bs %s", sendmail_program,
                settings.sendmail_flags);

  int to_child[2], from_child[2];
  if (pipe2(to_child, O_CLOEXEC) != 0) return false;
  if (pipe2(from_child, O_CLOEXEC) != 0) {
    int error = errno;
    close(to_child[0]);
    close(to_child[1]);
    errno = error;
    return false;
  }

  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, to_child[0], 0);
  posix_spawn_file_actions_adddup2(&actions, from_child[1], 1);
  posix_spawnattr_init(&attributes);
  // SIGPIPE is ignored here; the MTA gets the default back.
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);

  char shell_name[] = "sh", dash_c[] = "-c";
  char* argv[] = {shell_name, dash_c, command, nullptr};
  int error = posix_spawn(&s.child, "/bin/sh", &actions, &attributes, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  close(to_child[0]);
  close(from_child[1]);
  if (error != 0) {
    close(to_child[1]);
    close(from_child[0]);
    s.child = 0;
    errno = error;
    return false;
  }
  fcntl(to_child[1], F_SETFL, O_NONBLOCK);
  fcntl(from_child[0], F_SETFL, O_NONBLOCK);
  s.fd = to_child[1];
  s.replies.fd = from_child[0];
  return true;
}

// data_accepted - after "DATA\n": wait for its answer. A message written
// after a refused DATA would be read as commands by the MTA. A sendmail that
// stays silent is given up after the two minutes an SMTP client waits for
// the answer to DATA.
bool data_accepted(submission& s) {
  if (settings.debug) return true;
  s.replies.watched = ++s.commands + 1;  // the greeting comes first
  flush(s);
  while (s.replies.fd >= 0 && s.replies.finals < s.replies.watched && !s.write_error)
    if (!wait_for_child(s, true, data_answer_timeout_ms)) break;
  s.data_refused = s.replies.finals < s.replies.watched ||
                   std::strncmp(s.replies.watched_reply, "354", 3) != 0;
  return !s.data_refused;
}

// finish_child - after QUIT: let the child say its last, and reap it. Its
// answers are read until it ends the output or has exited.
int finish_child(submission& s) {
  close(s.fd);
  s.fd = -1;
  int status = 0;
  bool reaped = false;
  while (s.replies.fd >= 0 && !reaped) {
    pollfd watch{s.replies.fd, POLLIN, 0};
    int ready = poll(&watch, 1, 100);
    if (ready > 0 && read_replies(s.replies) == 0) stop_reading_replies(s);
    if (ready == 0) reaped = waitpid(s.child, &status, WNOHANG) == s.child;
  }
  while (!reaped && waitpid(s.child, &status, 0) < 0 && errno == EINTR) {
  }
  // Whatever a process left behind it still says is passed on, unwaited.
  while (s.replies.fd >= 0 && read_replies(s.replies) == 1) {
  }
  if (s.replies.fd >= 0) stop_reading_replies(s);
  pass_on_replies(s.replies);
  return status;
}

// report_failure - one line per failed submission, saying what went wrong.
// The shell runs sendmail as its own child and tells of a sendmail killed by
// signal N with the status 128 + N, which is read back as the signal.
void report_failure(const submission& s, int status) {
  char why[160];
  int exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : 0;
  if (s.child && WIFSIGNALED(status))
    std::snprintf(why, sizeof why, "killed by signal %d", WTERMSIG(status));
  else if (s.child && exit_status > 128 && exit_status - 128 < NSIG)
    std::snprintf(why, sizeof why, "killed by signal %d", exit_status - 128);
  else if (s.data_refused && s.replies.watched_reply[0])
    std::snprintf(why, sizeof why, "%s", s.replies.watched_reply);
  else if (s.child && exit_status != 0)
    std::snprintf(why, sizeof why, "exit status %d", exit_status);
  else if (s.data_refused)
    std::snprintf(why, sizeof why, "no answer to DATA");
  else
    std::snprintf(why, sizeof why, "%s", std::strerror(s.write_error));
  std::fprintf(stderr, "skerla: sendmail failed: %s\n", why);
}

// write_stuffed_chunk - one chunk of the spool, stuffed; returns whether it
// ended in LF, the only state carried from one chunk to the next. A small
// post, the common case, joins the commands in the buffer, so the whole
// envelope goes out in one write (stuffing adds at most half again). A
// larger chunk goes out in one gathered write straight from where it lies,
// after what the command buffer holds.
bool write_stuffed_chunk(submission& s, const char* chunk, std::size_t length,
                         bool at_line_start) {
  if (length <= direct_write_bytes && length + length / 2 + 1 <= sizeof s.buffer - s.used) {
    return for_each_stuffed_piece(chunk, length, at_line_start,
                                  [&s](const char* piece, std::size_t piece_length) {
                                    std::memcpy(s.buffer + s.used, piece, piece_length);
                                    s.used += piece_length;
                                  });
  }
  gathered_write pieces{s};
  if (s.used) pieces.add(s.buffer, s.used);
  bool ends_line = for_each_stuffed_piece(
      chunk, length, at_line_start,
      [&pieces](const char* piece, std::size_t piece_length) { pieces.add(piece, piece_length); });
  pieces.send();
  s.used = 0;
  return ends_line;
}

}  // namespace

submission* open_submission() {
  submission& s = the_submission;
  s.fd = 2;
  s.child = 0;
  s.write_error = 0;
  s.failed = false;
  s.data_refused = false;
  s.commands = 3;  // HELO, ONEX, MAIL
  s.replies.fd = -1;
  s.replies.finals = s.replies.watched = 0;
  s.replies.watched_reply[0] = '\0';
  s.replies.line_length = s.replies.held_length = 0;
  s.used = 0;
  if (!settings.debug) {
    s.fd = -1;
    if (!start_child(s)) {
      // Once an envelope went out, a retry by the MTA would send the post
      // twice to those already served: report, count it failed, go on.
      if (submissions_handed_over == 0)
        fatal(EX_OSERR, "can't open pipe to sendmail: %s\n", std::strerror(errno));
      std::fprintf(stderr, "can't open pipe to sendmail: %s\n", std::strerror(errno));
      s.failed = true;
    }
  }
  write_text(&s, "HELO localhost\nONEX\nMAIL FROM:<");
  write_text(&s, settings.envelope_from);
  write_text(&s, ">\n");
  return &s;
}

void write_text(submission* s, std::string_view text) {
  put(*s, text.data(), text.size());
}

namespace {

// One line per subscriber, composed in the buffer with a single check
// straight from where its parts lie; `at` is 0 or 1, for an address built
// of a local part and a domain.
void put_recipient(submission& s, std::string_view address, std::size_t at,
                   std::string_view domain) {
  constexpr std::string_view open = "RCPT TO:<", close = ">\n";
  std::size_t length = open.size() + address.size() + at + domain.size() + close.size();
  ++s.commands;
  if (length > sizeof s.buffer - s.used) flush(s);
  if (length > sizeof s.buffer) {
    put(s, open.data(), open.size());
    put(s, address.data(), address.size());
    put(s, "@", at);
    put(s, domain.data(), domain.size());
    put(s, close.data(), close.size());
    return;
  }
  char* out = s.buffer + s.used;
  std::memcpy(out, open.data(), open.size());
  out += open.size();
  copy_short(out, address.data(), address.size());
  out += address.size();
  *out = '@';  // overwritten by what follows when there is no domain
  out += at;
  copy_short(out, domain.data(), domain.size());
  out += domain.size();
  std::memcpy(out, close.data(), close.size());
  s.used += length;
}

}  // namespace

void write_recipient(submission* s, std::string_view address) {
  put_recipient(*s, address, 0, "");
}

void write_recipient_at(submission* s, std::string_view local_part, std::string_view domain) {
  put_recipient(*s, local_part, 1, domain);
}

int open_spool_for_data(submission* s) {
  int fd = open(spool_path, O_RDONLY | O_CLOEXEC);
  if (fd >= 0) return fd;
  if (submissions_handed_over == 0)
    fatal(EX_NOINPUT, "can't open %s (%s)\n", spool_path, std::strerror(errno));
  std::fprintf(stderr, "can't open %s (%s)\n", spool_path, std::strerror(errno));
  s->failed = true;
  return -1;
}

// A small spool, as most posts are, is read in one call. A larger one is
// mapped a window at a time, which spares copying every byte once more for
// every envelope; where mapping fails, reading goes on.
bool write_stuffed_spool(submission* s, int spool_fd) {
  static char block[spool_block_bytes];
  bool at_line_start = true;
  off_t offset = 0;
  struct stat status;
  for (;;) {
    ssize_t got = read(spool_fd, block, sizeof block);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      // Without its final stop the MTA drops the transaction: a message
      // cut short by a failing read must not go out as if whole.
      std::fprintf(stderr, "skerla: can't read %s (%s)\n", spool_path, std::strerror(errno));
      s->failed = true;
      return false;
    }
    if (got == 0) break;
    at_line_start = write_stuffed_chunk(*s, block, got, at_line_start);
    offset += got;
    // A regular file reads short only at its end: spare the extra call.
    if (got < static_cast<ssize_t>(sizeof block)) break;
    while (fstat(spool_fd, &status) == 0 && status.st_size > offset) {
      std::size_t length = std::min<std::size_t>(spool_window_bytes, status.st_size - offset);
      void* window = mmap(nullptr, length, PROT_READ, MAP_PRIVATE, spool_fd, offset);
      if (window == MAP_FAILED) break;
      at_line_start = write_stuffed_chunk(*s, static_cast<const char*>(window), length,
                                          at_line_start);
      munmap(window, length);
      offset += length;
    }
    if (lseek(spool_fd, offset, SEEK_SET) != offset) {
      std::fprintf(stderr, "skerla: can't read %s (%s)\n", spool_path, std::strerror(errno));
      s->failed = true;
      return false;
    }
  }
  if (!at_line_start) put(*s, "\n", 1);
  return true;
}

bool start_data(submission* s) {
  write_text(s, "DATA\n");
  return data_accepted(*s);
}

void send_spool_data(submission* s) {
  int spool_fd = open_spool_for_data(s);
  if (spool_fd < 0) return;
  if (start_data(s) && write_stuffed_spool(s, spool_fd)) write_text(s, ".\n");
  close(spool_fd);
}

bool close_submission(submission* s) {
  write_text(s, "QUIT\n");
  flush(*s);
  if (settings.debug) return true;
  int status = s->child ? finish_child(*s) : 0;
  bool taken = !s->failed && !s->write_error && !s->data_refused && WIFEXITED(status) &&
               WEXITSTATUS(status) == 0;
  if (taken) {
    ++submissions_handed_over;
    return true;
  }
  if (!s->failed) report_failure(*s, status);
  ++submissions_failed;
  return false;
}
