#include "intake/header_filter.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <string_view>

#include "driver/run_settings.h"

namespace {

using namespace std::literals;

struct spooled {
  message_class verdict;
  std::string spool;  // date and Message-ID stamp normalized
};

std::string file_text(std::FILE* f) {
  std::rewind(f);
  std::string text;
  char block[65536];
  for (std::size_t got; (got = std::fread(block, 1, sizeof block, f)) > 0;) text.append(block, got);
  return text;
}

spooled spool_of(std::string_view input) {
  settings = run_settings{};
  settings.local_domain = "example.org";
  std::FILE* in = std::tmpfile();
  std::fwrite(input.data(), 1, input.size(), in);
  std::rewind(in);
  std::FILE* out = std::tmpfile();
  message_class verdict = spool_message(out, in);
  std::string spool = file_text(out);
  std::fclose(in);
  std::fclose(out);
  // The date and the generated Message-ID's stamp differ from run to run.
  std::size_t date = spool.find("; ");
  spool.replace(date + 2, spool.find('\n') - date - 2, "DATE");
  std::size_t stamp = spool.find("<skerla.");
  if (stamp != std::string::npos)
    spool.replace(stamp, spool.find('@', stamp) - stamp, "<skerla.PID.STAMP");
  return {verdict, spool};
}

// The spool around a header of kept fields that has To and Message-ID.
std::string spool_with(std::string_view kept, std::string_view body) {
  return "Received: by example.org (skerla v1.13); DATE\n" + std::string(kept) + "\n" +
         std::string(body);
}

const std::string head = "To: l@example.org\nMessage-ID: <1@x>\n";
const std::string long_text(40000, 'x');
const std::string blanks(40000, ' ');

struct spool_case {
  const char* name;
  std::string input;
  std::string want;  // the whole spool
};

// A field cut at the 32767-byte buffer goes to the spool whole, wherever the
// cut falls, and the header ends where the input's header ends.
TEST(spool_message, long_fields_reach_the_spool_whole) {
  const std::string cut_before_lf = "Comments: " + std::string(32767 - 10, 'c') + "\n";
  const std::string cut_after_lf =
      "Comments: " + std::string(32767 - 11, 'c') + "\n" + " and on\n";
  const std::string dropped = "X-Pmrqc: " + std::string(32767 - 10, 'p') + "\n\t" + long_text + "\n";
  const spool_case cases[] = {
      {"cut inside a line", head + "Subject: " + long_text + "\n\nbody\n",
       spool_with(head + "Subject: " + long_text + "\n", "body\n")},
      {"cut right before the LF", head + cut_before_lf + "\nbody\n",
       spool_with(head + cut_before_lf, "body\n")},
      {"cut right after an LF, a continuation line after", head + cut_after_lf + "\nbody\n",
       spool_with(head + cut_after_lf, "body\n")},
      {"a dropped field leaves no piece", head + dropped + "Subject: s\n\nbody\n",
       spool_with(head + "Subject: s\n", "body\n")},
      {"a first line of blanks alone ends the header", blanks + "\n Body: 1\nx\n",
       "Received: by example.org (skerla v1.13); DATE\nTo: undisclosed-recipients:;\n"
       "Message-ID: <skerla.PID.STAMP@example.org>\n\n Body: 1\nx\n"},
      {"a first line of blanks then text is kept", blanks + "x: y\n" + head + "\nbody\n",
       spool_with(blanks + "x: y\n" + head, "body\n")},
  };
  for (const auto& c : cases) {
    spooled got = spool_of(c.input);
    EXPECT_EQ(message_class::deliver, got.verdict) << c.name;
    EXPECT_TRUE(c.want == got.spool) << c.name;  // too long to print
  }
}

TEST(spool_message, rules_see_only_the_first_piece) {
  // "returned mail" stands beyond the first 32767 bytes of the Subject.
  std::string subject = "Subject: " + long_text + " returned mail\n";
  spooled got = spool_of(head + subject + "\nbody\n");
  EXPECT_EQ(message_class::deliver, got.verdict);
  EXPECT_TRUE(spool_with(head + subject, "body\n") == got.spool);
}

TEST(spool_message, keeps_every_byte_around_nul_bytes_and_missing_line_ends) {
  const std::string late_lines = "1\n2\n3\n4\n5\n6\n7\n8\n9 \0 ten\n"s;
  const spool_case cases[] = {
      {"NUL in a kept field and in body lines", head + "Subject: a\0b\n\nx\0y\n"s + late_lines,
       spool_with(head + "Subject: a\0b\n"s, "x\0y\n"s + late_lines)},
      {"input ends inside a kept field", head + "Subject: no line end",
       spool_with(head + "Subject: no line end\n", "")},
      {"input ends inside a dropped field", head + "Precedence: bulk", spool_with(head, "")},
      {"input ends inside a cut field", head + "Subject: " + long_text,
       spool_with(head + "Subject: " + long_text + "\n", "")},
      {"body ends without a line end", head + "\nlast", spool_with(head, "last")},
      {"CR LF header, body begins with white space",
       "To: l@example.org\r\nMessage-ID: <1@x>\r\n\r\n  indented\r\nnext\r\n",
       spool_with("To: l@example.org\r\nMessage-ID: <1@x>\r\n", "  indented\r\nnext\r\n")},
  };
  for (const auto& c : cases) {
    spooled got = spool_of(c.input);
    EXPECT_EQ(message_class::deliver, got.verdict) << c.name;
    EXPECT_EQ(c.want, got.spool) << c.name;
  }
}

TEST(spool_message, body_line_count_counts_reads_of_32767_bytes) {
  // Seven lines make a command; one of them long enough for two reads does not.
  const std::string six = "a\nb\nc\nd\ne\nf\n";
  struct row {
    const char* name;
    std::string body;
    message_class want;
  } rows[] = {
      {"seven lines", six + "g\n", message_class::list_command},
      {"seven lines, one of two reads", six + long_text + "\n", message_class::deliver},
  };
  for (const auto& r : rows) {
    settings = run_settings{};
    std::string input = head + "Subject: help\n\n" + r.body;
    std::FILE* in = std::tmpfile();
    std::fwrite(input.data(), 1, input.size(), in);
    std::rewind(in);
    std::FILE* out = std::tmpfile();
    settings.local_domain = "example.org";
    settings.check_commands = 1;
    EXPECT_EQ(r.want, spool_message(out, in)) << r.name;
    std::fclose(in);
    std::fclose(out);
  }
}

TEST(spool_message, a_failed_write_is_a_spool_error_with_its_errno) {
  settings = run_settings{};
  settings.local_domain = "example.org";
  std::FILE* in = std::tmpfile();
  std::fputs("To: a@b\n\nbody\n", in);
  std::rewind(in);
  std::FILE* out = std::fopen("/dev/full", "w");
  ASSERT_NE(nullptr, out);
  errno = 0;
  message_class verdict = spool_message(out, in);
  int error = errno;
  EXPECT_EQ(message_class::spool_error, verdict);
  EXPECT_EQ(ENOSPC, error);
  std::fclose(in);
  std::fclose(out);
}

}  // namespace
