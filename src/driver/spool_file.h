// spool_file.h - the temporary file that holds the rewritten message.
//   spool_path      "/tmp/skerlaXXXXXX", made unique in place by create_spool
//   spool_file      read-write stream the intake writes the message through
//   create_spool()  mkstemp (owner-only, close-on-exec) and open the stream;
//                   exits EX_TEMPFAIL "skerla: error writing temp file:\n%s\n"
//   close_spool_stream()  close the writing stream; the file stays
//   remove_spool()  unlink once; does nothing before create_spool or after
//                   the first removal
#pragma once

#include <cstdio>

extern char spool_path[];
extern std::FILE* spool_file;

void create_spool();
void close_spool_stream();
void remove_spool();
