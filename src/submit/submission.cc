#include "submit/submission.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <sysexits.h>
#include <unistd.h>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "driver/fatal.h"
#include "driver/run_settings.h"
#include "driver/spool_file.h"

extern char** environ;

int submissions_handed_over = 0;
int submissions_failed = 0;

namespace {

constexpr std::size_t command_buffer_bytes = 32768;
constexpr std::size_t output_buffer_bytes = 65536;
constexpr std::size_t direct_write_bytes = 16384;  // larger spans skip the copy
constexpr std::size_t spool_block_bytes = 1 << 18;
constexpr std::size_t spool_window_bytes = 1 << 22;  // a multiple of the page size

}  // namespace

struct submission {
  int fd;              // pipe to the child, standard error with -debug, or -1
  pid_t child;         // 0 when no child runs
  int write_error;     // first failed write into the pipe; later writes dropped
  bool failed;         // already reported; the MTA must not count it
  std::size_t used;
  char buffer[output_buffer_bytes];
};

namespace {

submission the_submission;

void write_all(submission& s, const char* data, std::size_t length) {
  while (length > 0 && s.fd >= 0 && !s.write_error) {
    ssize_t wrote = write(s.fd, data, length);
    if (wrote < 0) {
      if (errno == EINTR) continue;
      s.write_error = errno;
      return;
    }
    data += wrote;
    length -= static_cast<std::size_t>(wrote);
  }
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

// gathered_write - pieces of one block handed to writev together, with the
// same error rule as write_all: the first failure drops everything after it.
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
    iovec* next = pieces;
    int left = count;
    count = 0;
    while (left > 0 && s.fd >= 0 && !s.write_error) {
      ssize_t wrote = writev(s.fd, next, left);
      if (wrote < 0) {
        if (errno == EINTR) continue;
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
};

// next_line_start_stop - the first stop in [from, end) right after an LF;
// from[-1] must be readable. Sixteen bytes at a time where SSE2 is there:
// the message is scanned once per envelope.
const char* next_line_start_stop(const char* from, const char* end) {
#ifdef __SSE2__
  const __m128i line_feed = _mm_set1_epi8('\n');
  const __m128i stop = _mm_set1_epi8('.');
  for (; end - from >= 16; from += 16) {
    __m128i before = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from - 1));
    __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
    int hits = _mm_movemask_epi8(
        _mm_and_si128(_mm_cmpeq_epi8(before, line_feed), _mm_cmpeq_epi8(here, stop)));
    if (hits) return from + __builtin_ctz(static_cast<unsigned>(hits));
  }
#endif
  for (; from < end; ++from)
    if (*from == '.' && from[-1] == '\n') return from;
  return end;
}

// start_child - "<sendmail> -bs <flags>" run by the shell, as popen would,
// with a pipe to its standard input. Returns the pipe's writing end or -1.
int start_child(pid_t* child) {
  // The administrator's flags may be long; the command is cut here, once,
  // to what the buffer holds.
  char command[command_buffer_bytes];
  std::snprintf(command, sizeof command, "%s -bs %s", sendmail_program,
                settings.sendmail_flags);

  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) return -1;

  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, ends[0], 0);
  posix_spawnattr_init(&attributes);
  // SIGPIPE is ignored here; the MTA gets the default back.
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);

  char shell_name[] = "sh", dash_c[] = "-c";
  char* argv[] = {shell_name, dash_c, command, nullptr};
  int error = posix_spawn(child, "/bin/sh", &actions, &attributes, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  close(ends[0]);
  if (error != 0) {
    close(ends[1]);
    errno = error;
    return -1;
  }
  return ends[1];
}

// report_failure - one line per failed submission, saying what went wrong.
// The shell runs sendmail as its own child and tells of a sendmail killed by
// signal N with the status 128 + N, which is read back as the signal.
void report_failure(const submission& s, int status) {
  char why[64];
  int exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : 0;
  if (s.child && WIFSIGNALED(status))
    std::snprintf(why, sizeof why, "killed by signal %d", WTERMSIG(status));
  else if (s.child && exit_status > 128 && exit_status - 128 < NSIG)
    std::snprintf(why, sizeof why, "killed by signal %d", exit_status - 128);
  else if (s.child && exit_status != 0)
    std::snprintf(why, sizeof why, "exit status %d", exit_status);
  else
    std::snprintf(why, sizeof why, "%s", std::strerror(s.write_error));
  std::fprintf(stderr, "skerla: sendmail failed: %s\n", why);
}

// The transparency rule with LF as the only line end: a full stop that
// starts a line (the spool's first byte counts as a line start) is doubled.
// Each chunk of the spool goes out in one gathered write straight from where
// it lies: the spans between stuffing points, each extra stop, and before
// them what the command buffer holds. Returns whether the chunk ended in LF,
// the only state carried from one chunk to the next.
bool write_stuffed_chunk(submission& s, const char* chunk, std::size_t length,
                         bool at_line_start) {
  static const char extra_stop = '.';
  gathered_write pieces{s};
  const char* end = chunk + length;
  const char* span = chunk;  // first byte not yet written
  if (s.used) pieces.add(s.buffer, s.used);
  if (at_line_start && *chunk == '.') pieces.add(&extra_stop, 1);
  for (const char* stop = chunk + 1; (stop = next_line_start_stop(stop, end)) < end; ++stop) {
    pieces.add(span, stop - span);  // through the LF
    pieces.add(&extra_stop, 1);
    span = stop;  // the line's own stop goes out with the next span
  }
  pieces.add(span, end - span);
  pieces.send();
  s.used = 0;
  return end[-1] == '\n';
}

}  // namespace

submission* open_submission() {
  submission& s = the_submission;
  s.fd = 2;
  s.child = 0;
  s.write_error = 0;
  s.failed = false;
  s.used = 0;
  if (!settings.debug) {
    s.fd = start_child(&s.child);
    if (s.fd < 0) {
      // Once an envelope went out, a retry by the MTA would send the post
      // twice to those already served: report, count it failed, go on.
      if (submissions_handed_over == 0)
        fatal(EX_OSERR, "can't open pipe to sendmail: %s\n", std::strerror(errno));
      std::fprintf(stderr, "can't open pipe to sendmail: %s\n", std::strerror(errno));
      s.child = 0;
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

// One line per subscriber: composed in the buffer with a single check.
void write_recipient(submission* s, std::string_view address) {
  constexpr std::string_view open = "RCPT TO:<", close = ">\n";
  std::size_t length = open.size() + address.size() + close.size();
  if (length > sizeof s->buffer - s->used) flush(*s);
  if (length > sizeof s->buffer) {
    write_text(s, open);
    write_text(s, address);
    write_text(s, close);
    return;
  }
  char* out = s->buffer + s->used;
  std::memcpy(out, open.data(), open.size());
  std::memcpy(out + open.size(), address.data(), address.size());
  std::memcpy(out + open.size() + address.size(), close.data(), close.size());
  s->used += length;
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
void write_stuffed_spool(submission* s, int spool_fd) {
  static char block[spool_block_bytes];
  bool at_line_start = true;
  off_t offset = 0;
  struct stat status;
  for (;;) {
    ssize_t got = read(spool_fd, block, sizeof block);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    at_line_start = write_stuffed_chunk(*s, block, got, at_line_start);
    offset += got;
    // A regular file reads short only at its end: spare the extra call.
    if (got < static_cast<ssize_t>(sizeof block)) break;
    while (fstat(spool_fd, &status) == 0 && status.st_size > offset) {
      std::size_t length = std::min<std::size_t>(spool_window_bytes, status.st_size - offset);
      void* window = mmap(nullptr, length, PROT_READ, MAP_PRIVATE | MAP_POPULATE, spool_fd, offset);
      if (window == MAP_FAILED) break;
      at_line_start = write_stuffed_chunk(*s, static_cast<const char*>(window), length,
                                          at_line_start);
      munmap(window, length);
      offset += length;
    }
    if (lseek(spool_fd, offset, SEEK_SET) != offset) break;
  }
  if (!at_line_start) put(*s, "\n", 1);
  close(spool_fd);
}

void send_spool_data(submission* s) {
  int spool_fd = open_spool_for_data(s);
  if (spool_fd < 0) return;
  write_text(s, "DATA\n");
  write_stuffed_spool(s, spool_fd);
  write_text(s, ".\n");
}

bool close_submission(submission* s) {
  write_text(s, "QUIT\n");
  flush(*s);
  if (settings.debug) return true;
  int status = 0;
  if (s->child) {
    close(s->fd);
    while (waitpid(s->child, &status, 0) < 0 && errno == EINTR) {
    }
  }
  bool taken = !s->failed && !s->write_error && WIFEXITED(status) &&
               WEXITSTATUS(status) == 0;
  if (taken) {
    ++submissions_handed_over;
    return true;
  }
  if (!s->failed) report_failure(*s, status);
  ++submissions_failed;
  return false;
}
