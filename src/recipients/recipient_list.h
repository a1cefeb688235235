// recipient_list.h - the subscriber list, canonicalized and keyed.
//   load_recipients()     read settings.recipient_list_file into the table;
//                         exits EX_NOINPUT "skerla: can't open recipient list
//                         %s (%s)\n", EX_TEMPFAIL "out of memory\n"
//   author_is_subscriber  an entry equals author_address, ASCII case aside
#pragma once

void load_recipients();
extern bool author_is_subscriber;
