// fatal.h - end the run at the point of failure.
//   fatal(status, format, ...)  write the text exactly as given to standard
//                               error, remove the spool file if one exists,
//                               exit with the sysexits status
//   alloc_or_exit(bytes)        allocate or end the run with "out of memory\n"
//                               and EX_TEMPFAIL; blocks are never freed
//   install_out_of_memory_handler()  the same exit for failed operator new,
//                               so standard containers fail the same way
#pragma once

#include <cstddef>

[[noreturn]] void fatal(int status, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
void* alloc_or_exit(std::size_t bytes);
void install_out_of_memory_handler();
