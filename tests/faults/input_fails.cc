// input_fails - run a command whose standard input fails part way.
//   input_fails FILE COMMAND [ARG...]
// The command reads FILE's bytes from a socket, and then, instead of the
// end of input, a read error (ECONNRESET): the other end is closed while
// data sent to it lies unread, and the kernel hands over what was queued
// before it reports the reset, so the cut falls at the same byte every run.
// Exits with the command's status (128 + N when signal N ended it).
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fputs("usage: input_fails FILE COMMAND [ARG...]\n", stderr);
    return 2;
  }
  std::FILE* input = std::fopen(argv[1], "rb");
  int ends[2];
  if (!input || socketpair(AF_UNIX, SOCK_STREAM, 0, ends) != 0) {
    std::perror("input_fails");
    return 2;
  }
  signal(SIGPIPE, SIG_IGN);
  // The byte the feeding end never reads: its close then resets the reader.
  if (write(ends[0], "x", 1) != 1) return 2;

  pid_t child = fork();
  if (child < 0) return 2;
  if (child == 0) {
    dup2(ends[0], 0);
    close(ends[0]);
    close(ends[1]);
    execvp(argv[2], argv + 2);
    std::perror(argv[2]);
    _exit(127);
  }
  close(ends[0]);
  char block[65536];
  for (std::size_t got; (got = std::fread(block, 1, sizeof block, input)) > 0;)
    if (write(ends[1], block, got) != static_cast<ssize_t>(got)) break;
  close(ends[1]);

  int status = 0;
  if (waitpid(child, &status, 0) < 0) return 2;
  return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
}
