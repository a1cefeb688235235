#include "intake/added_fields.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "driver/run_settings.h"

namespace {

// Sets TZ for one test and puts the old one back.
class in_zone : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* old = std::getenv("TZ");
    had_tz_ = old != nullptr;
    if (old) old_tz_ = old;
  }
  void TearDown() override {
    if (had_tz_)
      setenv("TZ", old_tz_.c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
    settings = run_settings{};
  }
  static void use_zone(const char* zone) {
    setenv("TZ", zone, 1);
    tzset();
  }

 private:
  bool had_tz_ = false;
  std::string old_tz_;
};

struct date_case {
  const char* zone;
  std::time_t when;
  const char* want;
};

constexpr date_case date_cases[] = {
    {"UTC0", 1615107900, "Sun, 7 Mar 2021 09:05:00 +0000"},
    {"XST-5:30", 1623758400, "Tue, 15 Jun 2021 17:30:00 +0530"},
    {"EST5", 1615168800, "Sun, 7 Mar 2021 21:00:00 -0500"},     // the day before
    {"XST-2", 1615159800, "Mon, 8 Mar 2021 01:30:00 +0200"},    // the day after
    {"EST5", 1609461000, "Thu, 31 Dec 2020 19:30:00 -0500"},    // the year before
    {"XST-2", 1609457400, "Fri, 1 Jan 2021 01:30:00 +0200"},    // the year after
    {"XST-5:30", 1609444800, "Fri, 1 Jan 2021 01:30:00 +0530"},
    {"UTC0", -2208988800, "Mon, 1 Jan 1900 00:00:00 +0000"},
};

TEST_F(in_zone, format_trace_date_table) {
  for (const auto& c : date_cases) {
    use_zone(c.zone);
    EXPECT_EQ(std::string(c.want), format_trace_date(c.when)) << c.zone << ' ' << c.when;
  }
}

std::string written(void (*write)(std::FILE*)) {
  char* text = nullptr;
  std::size_t size = 0;
  std::FILE* out = open_memstream(&text, &size);
  write(out);
  std::fclose(out);
  std::string result(text, size);
  std::free(text);
  return result;
}

TEST_F(in_zone, received_field_is_one_line_with_the_local_date) {
  use_zone("XST-2");
  settings.local_domain = "lists.example.org";
  EXPECT_EQ("Received: by lists.example.org (skerla v1.13); Mon, 8 Mar 2021 01:30:00 +0200\n",
            written([](std::FILE* out) { write_received_field(out, 1615159800); }));
}

TEST_F(in_zone, added_fields_follow_settings_and_notes) {
  use_zone("XST-2");
  const std::string pid = std::to_string(getpid());
  struct row {
    const char* name;
    void (*configure)(run_settings&);
    header_notes notes;
    std::string want;
  };
  const header_notes all_seen{.recipient_field_seen = true, .reply_to_seen = true,
                              .message_id_seen = true};
  const row rows[] = {
      {"nothing to add", [](run_settings&) {}, all_seen, "\n"},
      {"no To and no Message-ID", [](run_settings&) {}, {},
       "To: undisclosed-recipients:;\nMessage-ID: <skerla." + pid +
           ".20210308013000@lists.example.org>\n\n"},
      {"Reply-To kept from the input", [](run_settings& s) { s.reply_to = "l@x.org"; },
       all_seen, "\n"},
      {"Reply-To forced",
       [](run_settings& s) {
         s.reply_to = "l@x.org";
         s.force_reply_to = 1;
       },
       header_notes{.reply_to_seen = true},
       "To: undisclosed-recipients:;\nReply-To: l@x.org\nMessage-ID: <skerla." + pid +
           ".20210308013000@lists.example.org>\n\n"},
      {"every setting",
       [](run_settings& s) {
         s.precedence = "bulk";
         s.comment = "a comment";
         s.reply_to = "l@x.org";
         s.list_archive = "<http://x.org/a>";
         s.list_help = "<mailto:h@x.org>";
         s.list_id = "<l.x.org>";
         s.list_owner = "<mailto:o@x.org>";
         s.list_post = "<mailto:l@x.org>";
         s.list_subscribe = "<mailto:s@x.org>";
         s.list_unsubscribe = "<mailto:u@x.org>";
       },
       header_notes{.recipient_field_seen = true, .message_id_seen = true},
       "Precedence: bulk\nComment: a comment\nReply-To: l@x.org\n"
       "List-Archive: <http://x.org/a>\nList-Help: <mailto:h@x.org>\nList-ID: <l.x.org>\n"
       "List-Owner: <mailto:o@x.org>\nList-Post: <mailto:l@x.org>\n"
       "List-Subscribe: <mailto:s@x.org>\nList-Unsubscribe: <mailto:u@x.org>\n\n"},
  };
  for (const row& r : rows) {
    settings = run_settings{};
    settings.local_domain = "lists.example.org";
    r.configure(settings);
    static const header_notes* notes;
    notes = &r.notes;
    EXPECT_EQ(r.want, written([](std::FILE* out) { write_added_fields(out, *notes, 1615159800); }))
        << r.name;
  }
}

}  // namespace
