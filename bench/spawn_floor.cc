// spawn_floor.cc - the process-start floor of a delivery: one child per
// envelope, in sequence, each fed the bytes that envelope carried.
//   bench_spawn_floor DIALOGUE COMMAND
// DIALOGUE is what the program wrote with -debug for the same post and list;
// it is cut after every ".\nQUIT\n" (a stuffed body never holds a lone stop
// line, so that is where an envelope ends). Each piece goes, in one write,
// into a pipe to `/bin/sh -c COMMAND`, started with posix_spawn as the
// program starts sendmail; the child is waited for before the next starts.
// Exits 66 when DIALOGUE cannot be read, 71 when a child cannot be started.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <sysexits.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

extern char** environ;

namespace {

bool read_whole(const char* path, std::string& text) {
  int fd = open(path, O_RDONLY);
  if (fd < 0) return false;
  char block[1 << 16];
  ssize_t got;
  while ((got = read(fd, block, sizeof block)) > 0) text.append(block, got);
  close(fd);
  return got == 0;
}

void feed_child(const char* command, std::string_view bytes) {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) {
    std::perror("bench_spawn_floor: pipe");
    std::exit(EX_OSERR);
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, ends[0], 0);
  char shell_name[] = "sh", dash_c[] = "-c";
  char* argv[] = {shell_name, dash_c, const_cast<char*>(command), nullptr};
  // SIGPIPE is ignored here, as in the program; the child gets the default.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
  pid_t child;
  int error = posix_spawn(&child, "/bin/sh", &actions, &attributes, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  close(ends[0]);
  if (error != 0) {
    std::fprintf(stderr, "bench_spawn_floor: can't start /bin/sh: %s\n", std::strerror(error));
    std::exit(EX_OSERR);
  }
  while (!bytes.empty()) {
    ssize_t wrote = write(ends[1], bytes.data(), bytes.size());
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) break;
    bytes.remove_prefix(static_cast<std::size_t>(wrote));
  }
  close(ends[1]);
  int status;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fputs("usage: bench_spawn_floor DIALOGUE COMMAND\n", stderr);
    return EX_USAGE;
  }
  std::string dialogue;
  if (!read_whole(argv[1], dialogue)) {
    std::fprintf(stderr, "bench_spawn_floor: can't read %s\n", argv[1]);
    return EX_NOINPUT;
  }
  signal(SIGPIPE, SIG_IGN);
  constexpr std::string_view envelope_end = "\n.\nQUIT\n";
  std::string_view rest = dialogue;
  while (!rest.empty()) {
    std::size_t end = rest.find(envelope_end);
    end = end == std::string_view::npos ? rest.size() : end + envelope_end.size();
    feed_child(argv[2], rest.substr(0, end));
    rest.remove_prefix(end);
  }
  return 0;
}
