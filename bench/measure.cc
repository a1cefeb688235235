// measure.cc - run commands several times, interleaved, and print medians.
//   bench_measure RUNS COMMAND [::: COMMAND]...
//   COMMAND: [-i IN] [-o OUT] [-e ERR] [-E NAME=VALUE]... PROGRAM [ARG]...
// Each command runs once unmeasured (to warm the page cache), then RUNS
// times, the commands taking turns so that a noisy neighbour hurts them
// alike. For each command one line goes to standard output:
//   WALL_SECONDS CPU_SECONDS PEAK_RSS_KIB
// the median of each over the runs. CPU is user + system of the whole
// process tree (wait4 counts every descendant that was waited for); peak
// RSS is that of the largest single process in the tree. IN, OUT and ERR
// default to /dev/null. A run that does not exit 0 ends the measurement
// with status 70 and a line naming the command.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <sysexits.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

struct command {
  const char* in = "/dev/null";
  const char* out = "/dev/null";
  const char* err = "/dev/null";
  std::vector<char*> environment;
  std::vector<char*> argv;  // ends in nullptr
  std::vector<double> wall, cpu, rss;
};

struct sample {
  double wall, cpu, rss;
};

void redirect(const char* path, int flags, int fd) {
  int opened = open(path, flags, 0644);
  if (opened < 0 || dup2(opened, fd) < 0) {
    std::fprintf(stderr, "bench_measure: can't open %s: %s\n", path, std::strerror(errno));
    _exit(EX_OSFILE);
  }
  if (opened != fd) close(opened);
}

sample run_once(const command& c) {
  timespec start, stop;
  clock_gettime(CLOCK_MONOTONIC, &start);
  pid_t child = fork();
  if (child < 0) {
    std::perror("bench_measure: fork");
    std::exit(EX_OSERR);
  }
  if (child == 0) {
    redirect(c.in, O_RDONLY, 0);
    redirect(c.out, O_WRONLY | O_CREAT | O_TRUNC, 1);
    redirect(c.err, O_WRONLY | O_CREAT | O_TRUNC, 2);
    for (char* setting : c.environment) putenv(setting);
    execvp(c.argv[0], c.argv.data());
    std::fprintf(stderr, "bench_measure: can't run %s: %s\n", c.argv[0], std::strerror(errno));
    _exit(EX_UNAVAILABLE);
  }
  int status;
  rusage usage;
  while (wait4(child, &status, 0, &usage) < 0) {
    if (errno != EINTR) {
      std::perror("bench_measure: wait4");
      std::exit(EX_OSERR);
    }
  }
  clock_gettime(CLOCK_MONOTONIC, &stop);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "bench_measure: %s ended with %s %d:", c.argv[0],
                 WIFEXITED(status) ? "status" : "signal",
                 WIFEXITED(status) ? WEXITSTATUS(status) : WTERMSIG(status));
    for (std::size_t i = 0; c.argv[i]; ++i) std::fprintf(stderr, " %s", c.argv[i]);
    std::fputc('\n', stderr);
    std::exit(EX_SOFTWARE);
  }
  auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
  return {(stop.tv_sec - start.tv_sec) + (stop.tv_nsec - start.tv_nsec) / 1e9,
          seconds(usage.ru_utime) + seconds(usage.ru_stime),
          static_cast<double>(usage.ru_maxrss)};
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  std::size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// parse_command - one COMMAND up to ":::" or the end; returns the next index.
int parse_command(int argc, char** argv, int i, command& c) {
  for (; i + 1 < argc && argv[i][0] == '-' && argv[i][1] && !argv[i][2]; i += 2) {
    switch (argv[i][1]) {
      case 'i': c.in = argv[i + 1]; break;
      case 'o': c.out = argv[i + 1]; break;
      case 'e': c.err = argv[i + 1]; break;
      case 'E': c.environment.push_back(argv[i + 1]); break;
      default: return -1;
    }
  }
  for (; i < argc && std::strcmp(argv[i], ":::") != 0; ++i) c.argv.push_back(argv[i]);
  if (c.argv.empty()) return -1;
  c.argv.push_back(nullptr);
  return i < argc ? i + 1 : i;
}

}  // namespace

int main(int argc, char** argv) {
  int runs = argc > 2 ? std::atoi(argv[1]) : 0;
  std::vector<command> commands;
  for (int i = 2; runs > 0 && i > 0 && i < argc;) {
    commands.emplace_back();
    i = parse_command(argc, argv, i, commands.back());
    if (i < 0) runs = 0;
  }
  if (runs <= 0 || commands.empty()) {
    std::fputs("usage: bench_measure RUNS COMMAND [::: COMMAND]...\n"
               "  COMMAND: [-i IN] [-o OUT] [-e ERR] [-E NAME=VALUE]... PROGRAM [ARG]...\n",
               stderr);
    return EX_USAGE;
  }
  for (command& c : commands) run_once(c);
  for (int r = 0; r < runs; ++r) {
    for (command& c : commands) {
      sample s = run_once(c);
      c.wall.push_back(s.wall);
      c.cpu.push_back(s.cpu);
      c.rss.push_back(s.rss);
    }
  }
  for (const command& c : commands)
    std::printf("%.4f %.4f %.0f\n", median(c.wall), median(c.cpu), median(c.rss));
  return 0;
}
