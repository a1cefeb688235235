// fake_sendmail.cc - a stand-in for `sendmail -bs` in tests and benchmarks.
// Answers the dialogue on standard output as an SMTP server would (220, 250,
// 500 for ONEX, 354, 221) and reads everything it is given. From the
// environment:
//   FAKE_SENDMAIL_LOG    append "=== sendmail <args>\n" and the bytes received
//   FAKE_SENDMAIL_MODES  comma list, one mode per invocation in order (counted
//                        in $FAKE_SENDMAIL_LOG.count); missing ones are "ok":
//                        ok | exit=N | signal=N (after 4096 bytes of input)
//                        | refuse (answers 550 to every RCPT, 554 to DATA)
//                        | early (exits 0 at once, reading nothing)
#include <signal.h>
#include <unistd.h>

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

void reply(const char* text) {
  std::fputs(text, stdout);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  const char* log_path = std::getenv("FAKE_SENDMAIL_LOG");
  std::string mode = mode_for_this_run(log_path);
  FILE* log = log_path ? std::fopen(log_path, "a") : nullptr;
  if (log) {
    std::fputs("=== sendmail", log);
    for (int i = 1; i < argc; ++i) std::fprintf(log, " [%s]", argv[i]);
    std::fputs("\n", log);
  }
  int kill_signal = mode.rfind("signal=", 0) == 0 ? std::atoi(mode.c_str() + 7) : 0;
  int exit_status = mode.rfind("exit=", 0) == 0 ? std::atoi(mode.c_str() + 5) : 0;

  if (mode == "early") return 0;
  reply("220 localhost ESMTP stand-in\n");
  char* line = nullptr;
  std::size_t capacity = 0;
  ssize_t length;
  bool in_data = false;
  long received = 0;
  while ((length = getline(&line, &capacity, stdin)) > 0) {
    if (log) std::fwrite(line, 1, length, log);
    received += length;
    if (kill_signal && received >= 4096) {
      if (log) std::fclose(log);
      raise(kill_signal);
    }
    if (in_data) {
      if (std::strcmp(line, ".\n") == 0) {
        in_data = false;
        reply("250 accepted\n");
      }
    } else if (std::strncmp(line, "ONEX", 4) == 0) {
      reply("500 unrecognized command\n");
    } else if (std::strncmp(line, "DATA", 4) == 0 && mode == "refuse") {
      reply("554 no valid recipients\n");  // what follows is read as commands
    } else if (std::strncmp(line, "DATA", 4) == 0) {
      in_data = true;
      reply("354 go ahead\n");
    } else if (std::strncmp(line, "QUIT", 4) == 0) {
      reply("221 bye\n");
    } else if (std::strncmp(line, "RCPT", 4) == 0 && mode == "refuse") {
      reply("550 no such user\n");
    } else {
      reply("250 ok\n");
    }
  }
  std::free(line);
  if (log) std::fclose(log);
  return exit_status;
}
