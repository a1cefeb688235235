#include "driver/spool_file.h"

#include <fcntl.h>
#include <sysexits.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "driver/fatal.h"

char spool_path[] = "/tmp/skerlaXXXXXX";
std::FILE* spool_file = nullptr;

namespace {
bool spool_exists = false;
}

void create_spool() {
  int fd = mkostemp(spool_path, O_CLOEXEC);
  if (fd < 0)
    fatal(EX_TEMPFAIL, "skerla: error writing temp file:\n%s\n",
          std::strerror(errno));
  spool_exists = true;
  spool_file = fdopen(fd, "w+");
  if (!spool_file) {
    int error = errno;
    close(fd);
    fatal(EX_TEMPFAIL, "skerla: error writing temp file:\n%s\n",
          std::strerror(error));
  }
}

void close_spool_stream() {
  if (spool_file) std::fclose(spool_file);
  spool_file = nullptr;
}

void remove_spool() {
  if (!spool_exists) return;
  spool_exists = false;
  unlink(spool_path);
}
