// fake_sendmail.cc - a stand-in for `sendmail -bs` in tests and benchmarks.
// Answers the dialogue on standard output as an SMTP server would (220, 250,
// 500 for ONEX, 354, 221) and reads everything it is given. Like a real MTA
// serving pipelined commands (Exim's -bs does so), it gathers its answers
// while more input is at hand and writes them when it must wait for input.
// From the environment:
//   FAKE_SENDMAIL_LOG    append "=== sendmail <args>\n" and the bytes received
//   FAKE_SENDMAIL_MODES  comma list, one mode per invocation in order (counted
//                        in $FAKE_SENDMAIL_LOG.count); missing ones are "ok":
//                        ok | exit=N | signal=N (after 4096 bytes of input)
//                        | refuse (answers 550 to every RCPT, 554 to DATA)
//                        | early (exits 0 at once, reading nothing)
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::string mode_for_this_run(const char* log) {
  const char* modes = std::getenv("FAKE_SENDMAIL_MODES");
  if (!modes || !log) return "ok";
  std::string counter = std::string(log) + ".count";
  int run = 0;
  if (FILE* f = std::fopen(counter.c_str(), "r")) {
    if (std::fscanf(f, "%d", &run) != 1) run = 0;
    std::fclose(f);
  }
  if (FILE* f = std::fopen(counter.c_str(), "w")) {
    std::fprintf(f, "%d\n", run + 1);
    std::fclose(f);
  }
  std::string all = modes;
  std::size_t start = 0;
  for (int i = 0; i < run; ++i) {
    start = all.find(',', start);
    if (start == std::string::npos) return "ok";
    ++start;
  }
  return all.substr(start, all.find(',', start) - start);
}

std::string replies;  // answers not yet written

void reply(const char* text) { replies += text; }

void write_replies() {
  const char* next = replies.data();
  std::size_t left = replies.size();
  while (left > 0) {
    ssize_t done = write(1, next, left);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) break;
    next += done;
    left -= static_cast<std::size_t>(done);
  }
  replies.clear();
}

struct session {
  std::string mode;
  FILE* log = nullptr;
  int kill_signal = 0;
  bool in_data = false;
  long received = 0;
};

void answer(session& s, const char* line, std::size_t length) {
  if (s.log) std::fwrite(line, 1, length, s.log);
  s.received += static_cast<long>(length);
  if (s.kill_signal && s.received >= 4096) {
    write_replies();
    if (s.log) std::fclose(s.log);
    raise(s.kill_signal);
  }
  auto starts = [&](const char* word) { return length >= 4 && std::strncmp(line, word, 4) == 0; };
  if (s.in_data) {
    if (length == 2 && line[0] == '.' && line[1] == '\n') {
      s.in_data = false;
      reply("250 accepted\n");
    }
  } else if (starts("ONEX")) {
    reply("500 unrecognized command\n");
  } else if (starts("DATA") && s.mode == "refuse") {
    reply("554 no valid recipients\n");  // what follows is read as commands
  } else if (starts("DATA")) {
    s.in_data = true;
    reply("354 go ahead\n");
  } else if (starts("QUIT")) {
    reply("221 bye\n");
  } else if (starts("RCPT") && s.mode == "refuse") {
    reply("550 no such user\n");
  } else {
    reply("250 ok\n");
  }
}

}  // namespace

int main(int argc, char** argv) {
  const char* log_path = std::getenv("FAKE_SENDMAIL_LOG");
  session s;
  s.mode = mode_for_this_run(log_path);
  s.log = log_path ? std::fopen(log_path, "a") : nullptr;
  if (s.log) {
    std::fputs("=== sendmail", s.log);
    for (int i = 1; i < argc; ++i) std::fprintf(s.log, " [%s]", argv[i]);
    std::fputs("\n", s.log);
  }
  s.kill_signal = s.mode.rfind("signal=", 0) == 0 ? std::atoi(s.mode.c_str() + 7) : 0;
  int exit_status = s.mode.rfind("exit=", 0) == 0 ? std::atoi(s.mode.c_str() + 5) : 0;

  if (s.mode == "early") return 0;
  reply("220 localhost ESMTP stand-in\n");
  static char block[65536];
  std::string partial;  // a line begun in an earlier block
  for (;;) {
    write_replies();
    ssize_t got = read(0, block, sizeof block);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    const char* next = block;
    const char* end = block + got;
    while (next < end) {
      auto* lf = static_cast<const char*>(std::memchr(next, '\n', end - next));
      if (!lf) {
        partial.append(next, end);
        break;
      }
      if (partial.empty()) {
        answer(s, next, lf + 1 - next);
      } else {
        partial.append(next, lf + 1);
        answer(s, partial.data(), partial.size());
        partial.clear();
      }
      next = lf + 1;
    }
  }
  if (!partial.empty()) answer(s, partial.data(), partial.size());
  write_replies();
  if (s.log) std::fclose(s.log);
  return exit_status;
}
