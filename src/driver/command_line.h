// command_line.h - options and arguments into the run settings.
//   parse_command_line(argc, argv)  fill `settings`; returns only when the
//                                   command line is valid, else writes the
//                                   usage or option text and exits EX_USAGE
//   is_all_digits(text)             at least one character, all ASCII digits
#pragma once

void parse_command_line(int argc, char** argv);
bool is_all_digits(const char* text);
