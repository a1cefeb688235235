#include "intake/header_field_reader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <string_view>

#include "intake/message_input.h"

namespace {

// pieces_of - every piece as [text], a cut one as [text]+, then "|" and what
// the stream still holds after the reader reported the end of the header.
std::string pieces_of(std::string_view input, int capacity) {
  std::FILE* stream = std::tmpfile();
  std::fwrite(input.data(), 1, input.size(), stream);
  std::rewind(stream);
  static message_input in;
  start_input(in, stream);
  char buffer[40000];
  std::string out;
  header_piece piece;
  while ((piece = read_header_field(buffer, capacity, in, piece.cut)).text) {
    out += '[' + std::string(piece.text, piece.length) + ']';
    if (piece.cut) out += '+';
  }
  out += '|';
  for (int c; (c = next_byte(in)) >= 0;) out += static_cast<char>(c);
  std::fclose(stream);
  return out;
}

using namespace std::literals;

struct reader_case {
  std::string_view input;
  int capacity;
  std::string_view want;
};

const reader_case reader_cases[] = {
    {"To: a\n\tb\nSubject: s\n\nbody\n", 32768, "[To: a\n\tb\n][Subject: s\n]|body\n"},
    {"", 32768, "|"},
    {"\nTo: x\n", 32768, "|To: x\n"},
    {"A: 1\n   \nB: 2\n\nx", 32768, "[A: 1\n   \n][B: 2\n]|x"},
    {"A: 1\r\n \r\n\r\n", 32768, "[A: 1\r\n \r\n][\r\n]|"},
    {"  \nA: 1\n\n", 32768, "[  \n][A: 1\n]|"},
    {"A: 1\nB: 2", 32768, "[A: 1\n][B: 2]|"},
    {"A: \0x\n\nb\0dy"sv, 32768, "[A: \0x\n]|b\0dy"sv},
    // Cuts at capacity 8, seven bytes a piece: inside a line, right before
    // its LF, right after an LF with or without a continuation line, and at
    // the end of input.
    {"A: 1234567\nB: 1\n\n", 8, "[A: 1234]+[567\n][B: 1\n]|"},
    {"A: 12345678901\n\n", 8, "[A: 1234]+[5678901]+[\n]|"},
    {"A: 1234\nB: 1\n\n", 8, "[A: 1234]+[\n][B: 1\n]|"},
    {"A: 1234\n\nbody", 8, "[A: 1234]+[\n]|body"},
    {"A: 123\n 4\nB: 1\n\n", 8, "[A: 123\n]+[ 4\n][B: 1\n]|"},
    {"A: 123\nB: 1\n\n", 8, "[A: 123\n][B: 1\n]|"},
    {"A: 123\n\nbody", 8, "[A: 123\n]|body"},
    {"A: 1234", 8, "[A: 1234]|"},
    {"       \n\nx", 8, "[       ]+[\n]|x"},
};

TEST(read_header_field, table) {
  for (const auto& c : reader_cases)
    EXPECT_EQ(c.want, pieces_of(c.input, c.capacity))
        << "input \"" << c.input << "\" capacity " << c.capacity;
}

TEST(read_header_field, cuts_a_long_line_at_32767_bytes) {
  std::string line = "Subject: " + std::string(40000, 'x') + "\n";
  std::string want = "[" + line.substr(0, 32767) + "]+[" + line.substr(32767) + "]|body\n";
  EXPECT_EQ(want, pieces_of(line + "\nbody\n", 32768));
}

}  // namespace
