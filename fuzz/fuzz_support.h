// fuzz_support.h - what the fuzz targets share.
//   check(holds, what)          abort with "fuzz check failed: what" on fd 2
//   quiet_program_messages()    point the program's stderr stream at
//                               /dev/null; sanitizer and libFuzzer reports go
//                               to descriptor 2 directly and stay visible
//   memory_file()               an anonymous read-write file (memfd), so no
//                               target writes a name into /tmp
#pragma once

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

inline void check(bool holds, const char* what) {
  if (holds) return;
  dprintf(2, "fuzz check failed: %s\n", what);
  std::abort();
}

inline void quiet_program_messages() {
  // The canonicalizer reports every overlong text, which floods the log
  // and slows the run; glibc lets the stream itself be replaced.
  std::FILE* null = std::fopen("/dev/null", "w");
  check(null != nullptr, "open /dev/null");
  stderr = null;
}

inline int memory_file() {
  int fd = memfd_create("skerla-fuzz", 0);
  check(fd >= 0, "memfd_create");
  return fd;
}
