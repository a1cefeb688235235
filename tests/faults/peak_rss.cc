// peak_rss - run a command and record the most memory it held at once.
//   peak_rss REPORT COMMAND [ARG...]
// Runs COMMAND with this process's standard descriptors, writes its peak
// resident set size in KiB (ru_maxrss, which takes in the children it
// waited for) to the file REPORT, and exits with its status (128 + N when
// signal N ended it), as a shell would.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fputs("usage: peak_rss REPORT COMMAND [ARG...]\n", stderr);
    return 2;
  }
  pid_t child = fork();
  if (child < 0) return 2;
  if (child == 0) {
    execvp(argv[2], argv + 2);
    std::perror(argv[2]);
    _exit(127);
  }
  int status = 0;
  struct rusage usage {};
  if (wait4(child, &status, 0, &usage) < 0) return 2;
  std::FILE* report = std::fopen(argv[1], "w");
  if (!report) return 2;
  std::fprintf(report, "%ld\n", usage.ru_maxrss);
  std::fclose(report);
  return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
}
