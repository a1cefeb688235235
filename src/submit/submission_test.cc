#include "submit/submission.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "driver/run_settings.h"
#include "driver/spool_file.h"
#include "submit/owner_notice.h"

namespace {

using namespace std::string_literals;

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream all;
  all << in.rdbuf();
  return all.str();
}

void write_file(const char* path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// capture - run `work` with descriptor fd sent to a file; returns the bytes.
template <typename Work>
std::string capture(int fd, Work work) {
  char path[] = "/tmp/skerla_test_captureXXXXXX";
  int file = mkstemp(path);
  int saved = dup(fd);
  dup2(file, fd);
  work();
  dup2(saved, fd);
  close(saved);
  close(file);
  std::string bytes = read_file(path);
  unlink(path);
  return bytes;
}

const std::string head =
    "HELO localhost\nONEX\nMAIL FROM:<list-bounces@example.org>\nRCPT TO:<a@b.example>\n";

// One whole envelope to a@b.example; returns close_submission's verdict.
bool envelope() {
  submission* s = open_submission();
  write_recipient(s, "a@b.example");
  send_spool_data(s);
  return close_submission(s);
}

class submission_test : public testing::Test {
 protected:
  void SetUp() override {
    signal(SIGPIPE, SIG_IGN);
    settings = run_settings{};
    settings.envelope_from = "list-bounces@example.org";
    settings.debug = 1;
    submissions_handed_over = submissions_failed = 0;
    if (std::string(spool_path).ends_with("XXXXXX")) close(mkstemp(spool_path));
    log_path = std::string(spool_path) + ".sendmail";
    setenv("FAKE_SENDMAIL_LOG", log_path.c_str(), 1);
    unsetenv("FAKE_SENDMAIL_MODES");
    unlink(log_path.c_str());
    unlink((log_path + ".count").c_str());
  }
  void TearDown() override {
    unlink(spool_path);
    unlink(log_path.c_str());
    unlink((log_path + ".count").c_str());
  }

  std::string log_path;
};

struct stuffing_case {
  std::string spool;
  std::string data;  // what must stand between DATA and the final "."
};

TEST_F(submission_test, dot_stuffs_with_lf_as_the_only_line_end) {
  const std::string block(262143, 'a');  // one byte short of the read block
  const std::string window(262144 + 4 * 1048576 - 1, 'w');  // ... and of the fourth mapped window
  const stuffing_case cases[] = {
      {"", ""},
      {"a\n", "a\n"},
      {"a", "a\n"},  // a final LF is added only when missing
      {".\n", "..\n"},
      {"..x\n", "...x\n"},
      {"a.b\n.c\n.", "a.b\n..c\n..\n"},
      {"a\r.b\r\n.c\r\n", "a\r.b\r\n..c\r\n"},  // a stop after a bare CR stays single
      {"x\0.\n\n.\0"s, "x\0.\n\n..\0\n"s},
      {"\xff.\n.\xfe", "\xff.\n..\xfe\n"},
      {block + "\n.x\n", block + "\n..x\n"},   // LF ends one read block, "." starts the next
      {block + "a.\n", block + "a.\n"},         // a stop that starts a block mid-line
      {window + "\n.y\n.", window + "\n..y\n..\n"},  // the same across mapped windows
      {std::string(20000, 'b') + "\n." + std::string(20000, 'c'),
       std::string(20000, 'b') + "\n.." + std::string(20000, 'c') + "\n"},
  };
  for (const auto& c : cases) {
    write_file(spool_path, c.spool);
    std::string got = capture(2, [&] { EXPECT_TRUE(envelope()); });
    EXPECT_EQ(head + "DATA\n" + c.data + ".\nQUIT\n", got)
        << "spool of " << c.spool.size() << " bytes: " << c.spool.substr(0, 20);
  }
}

TEST_F(submission_test, null_sender_and_owner_notice) {
  settings.envelope_from = "";
  write_file(spool_path, "Subject: x\n\n.hi\n");
  std::string got = capture(2, [] {
    submission* s = open_submission();
    write_recipient(s, "owner@example.org");
    send_to_owner(s, "owner@example.org", "this looks like a bounced message");
    close_submission(s);
  });
  EXPECT_EQ(
      "HELO localhost\nONEX\nMAIL FROM:<>\nRCPT TO:<owner@example.org>\nDATA\n"
      "To: owner@example.org\nSubject: this looks like a bounced message\n"
      "Content-type: message/rfc822\nMIME-Version: 1.0\n\n"
      "Subject: x\n\n..hi\n.\nQUIT\n",
      got);
}

TEST_F(submission_test, child_gets_the_dialogue_and_its_replies_go_to_stdout) {
  settings.debug = 0;
  settings.sendmail_flags = "-odi  -oi";
  write_file(spool_path, "Subject: x\n\nbody\n");
  std::string replies = capture(1, [&] { EXPECT_TRUE(envelope()); });
  EXPECT_EQ(
      "220 localhost ESMTP stand-in\n250 ok\n500 unrecognized command\n250 ok\n250 ok\n"
      "354 go ahead\n250 accepted\n221 bye\n",
      replies);
  EXPECT_EQ("=== sendmail [-bs] [-odi] [-oi]\n" + head + "DATA\nSubject: x\n\nbody\n.\nQUIT\n",
            read_file(log_path));
  EXPECT_EQ(1, submissions_handed_over);
  EXPECT_EQ(0, submissions_failed);
}

TEST_F(submission_test, empty_flags_leave_a_trailing_blank_for_the_shell) {
  settings.debug = 0;
  write_file(spool_path, "");
  capture(1, [&] { EXPECT_TRUE(envelope()); });
  EXPECT_THAT(read_file(log_path), testing::StartsWith("=== sendmail [-bs]\n"));
}

TEST_F(submission_test, reports_each_failed_child) {
  settings.debug = 0;
  const std::string big(1 << 20, 'x');  // more than a pipe holds
  const struct {
    const char* mode;
    std::string spool;
    const char* want;
  } cases[] = {
      {"exit=3", "small\n", "skerla: sendmail failed: exit status 3\n"},
      {"signal=9", big, "skerla: sendmail failed: killed by signal 9\n"},
      {"early", big, "skerla: sendmail failed: no answer to DATA\n"},
  };
  for (const auto& c : cases) {
    setenv("FAKE_SENDMAIL_MODES", c.mode, 1);
    unlink((log_path + ".count").c_str());
    write_file(spool_path, c.spool);
    submissions_failed = 0;
    std::string err;
    capture(1, [&] { err = capture(2, [&] { EXPECT_FALSE(envelope()) << c.mode; }); });
    EXPECT_THAT(err, testing::EndsWith(c.want)) << c.mode;  // the shell may add its own word
    EXPECT_EQ(1, submissions_failed) << c.mode;
  }
  EXPECT_EQ(0, submissions_handed_over);
}

// After a refused DATA the MTA reads further lines as commands: a header
// line "RCPT TO:<x>" would add a recipient. The message is held back.
TEST_F(submission_test, holds_the_message_back_when_data_is_refused) {
  settings.debug = 0;
  setenv("FAKE_SENDMAIL_MODES", "refuse", 1);
  write_file(spool_path, "RCPT TO:<victim@example.net>\nDATA\n\nspam\n");
  std::string err, replies;
  replies = capture(1, [&] { err = capture(2, [&] { EXPECT_FALSE(envelope()); }); });
  EXPECT_EQ("skerla: sendmail failed: 554 no valid recipients\n", err);
  EXPECT_EQ("=== sendmail [-bs]\n" + head + "DATA\nQUIT\n", read_file(log_path));
  EXPECT_EQ(
      "220 localhost ESMTP stand-in\n250 ok\n500 unrecognized command\n250 ok\n"
      "550 no such user\n554 no valid recipients\n221 bye\n",
      replies);
  EXPECT_EQ(1, submissions_failed);
}

TEST_F(submission_test, a_spool_that_cannot_be_read_leaves_out_the_final_stop) {
  settings.debug = 0;
  std::string saved = spool_path;
  std::strcpy(spool_path, "/tmp");  // opens, but reads fail
  std::string err;
  capture(1, [&] { err = capture(2, [&] { EXPECT_FALSE(envelope()); }); });
  std::strcpy(spool_path, saved.c_str());
  EXPECT_EQ("skerla: can't read /tmp (Is a directory)\n", err);
  EXPECT_EQ("=== sendmail [-bs]\n" + head + "DATA\nQUIT\n", read_file(log_path));
  EXPECT_EQ(1, submissions_failed);
}

TEST_F(submission_test, before_any_envelope_went_out_failures_end_the_run) {
  write_file(spool_path, "x\n");
  std::string missing = spool_path;
  unlink(spool_path);
  EXPECT_EXIT(envelope(), testing::ExitedWithCode(66),
              testing::EndsWith("can't open " + missing + " (No such file or directory)\n"));
  settings.debug = 0;
  auto without_descriptors = [&] {
    static rlimit saved;
    getrlimit(RLIMIT_NOFILE, &saved);
    // Give the descriptors back at exit, for the sanitizers' own reports.
    std::atexit([] { setrlimit(RLIMIT_NOFILE, &saved); });
    rlimit few = {3, saved.rlim_max};  // no descriptor left for the pipe
    setrlimit(RLIMIT_NOFILE, &few);
    envelope();
  };
  EXPECT_EXIT(without_descriptors(), testing::ExitedWithCode(71),
      testing::StrEq("can't open pipe to sendmail: Too many open files\n"));
}

TEST_F(submission_test, after_an_envelope_went_out_failures_are_counted_not_fatal) {
  settings.debug = 0;
  write_file(spool_path, "x\n");
  capture(1, [&] { EXPECT_TRUE(envelope()); });
  unlink(log_path.c_str());

  // The spool is gone: the child is told QUIT right after its RCPT lines.
  std::string missing = spool_path;
  unlink(spool_path);
  std::string err;
  capture(1, [&] { err = capture(2, [&] { EXPECT_FALSE(envelope()); }); });
  EXPECT_EQ("can't open " + missing + " (No such file or directory)\n", err);
  EXPECT_EQ("=== sendmail [-bs]\n" + head + "QUIT\n", read_file(log_path));

  // No pipe can be made: reported, counted, and the run goes on.
  rlimit saved;
  getrlimit(RLIMIT_NOFILE, &saved);
  rlimit few = {3, saved.rlim_max};
  capture(2, [&] {
    setrlimit(RLIMIT_NOFILE, &few);
    EXPECT_FALSE(envelope());
    setrlimit(RLIMIT_NOFILE, &saved);
  });
  EXPECT_EQ(1, submissions_handed_over);
  EXPECT_EQ(2, submissions_failed);
}

}  // namespace
