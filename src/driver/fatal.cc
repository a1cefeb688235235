#include "driver/fatal.h"

#include <sysexits.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "driver/spool_file.h"

void fatal(int status, const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
  // No private mail is left in /tmp, whatever ends the run.
  remove_spool();
  std::exit(status);
}

void* alloc_or_exit(std::size_t bytes) {
  void* block = std::malloc(bytes ? bytes : 1);
  if (!block) fatal(EX_TEMPFAIL, "out of memory\n");
  return block;
}

void install_out_of_memory_handler() {
  std::set_new_handler([] { fatal(EX_TEMPFAIL, "out of memory\n"); });
}
