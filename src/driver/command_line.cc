#include "driver/command_line.h"

#include <sysexits.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "driver/fatal.h"
#include "driver/run_settings.h"

namespace {

// Scripts compare this text byte for byte; line 15 holds two tabs on purpose.
constexpr char usage_text[] =
    "usage: skerla [options] envelope_from recipient_list_file\n"
    "(message appears on stdin)\n"
    "options are:\n"
    "    -comment text          add a header of the form \"Comment: text\"\n"
    "    -debug                 display SMTP output on stderr; don't send msg\n"
    "    -delete-list-hdrs      delete any List-* headers in input\n"
    "    -domain xx.yy.zz       set domain name to 'xx.yy.zz' (overrides default)\n"
    "    -list-archive xxx      add a 'List-Archive: xxx' field to output (*)\n"
    "    -list-help xxx         add a 'List-Help: xxx' field to output (*)\n"
    "    -list-owner xxx        add a 'List-Owner: xxx' field to output (*)\n"
    "    -list-post xxx         add a 'List-Post: xxx' field to output (*)\n"
    "    -list-unsubscribe xxx  add a 'List-Unsubscribe: xxx' field to output (*)\n"
    "    -maxdomains ###        set max # of distinct domains per envelope\n"
    "    -maxrcpts ###          set max # of recipients per envelope\n"
    "    -maxsize ####          set maximum message size\n"
    "    -owner user@domain     set name of list owner\n"
    "    -precedence keyword    add a 'Precedence: keyword' header field (NR)\n"
    "    -private\t\t   bounce if From address is not a list subscriber\n"
    "    -reply-to user@domain  add a reply-to header if there's not one there\n"
    "    +reply-to user@domain  force reply-to header even if there already (NR)\n"
    "    -s                     check for 'unsubscribe' & similar commands\n"
    "                           (if found: don't deliver, forward to list owner)\n"
    "    -sendmail flags        pass 'flags' to sendmail\n"
    "    -v                     turn on verbose mode\n"
    "    \n"
    "    NOTES:\n"
    "    (NR) = NOT RECOMMENDED\n"
    "     (*) = read RFC 2369 before setting these options\n";

[[noreturn]] void usage() { fatal(EX_USAGE, "%s", usage_text); }

enum class takes { nothing, text, domain, number };

struct option {
  const char* name;
  takes value;
  const char** text = nullptr;     // where a text value goes
  int* flag = nullptr;             // set to 1
  int* count = nullptr;            // raised by 1
  std::int32_t* number = nullptr;  // where a numeric value goes
  bool is_list_field = false;      // also drops the input's List- fields
  bool forces_reply_to = false;
};

run_settings& s = settings;

const option options[] = {
    {.name = "-comment", .value = takes::text, .text = &s.comment},
    {.name = "-debug", .value = takes::nothing, .count = &s.debug},
    {.name = "-delete-list-hdrs", .value = takes::nothing, .count = &s.delete_list_headers},
    {.name = "-domain", .value = takes::domain, .text = &s.local_domain},
    {.name = "-list-archive", .value = takes::text, .text = &s.list_archive, .is_list_field = true},
    {.name = "-list-help", .value = takes::text, .text = &s.list_help, .is_list_field = true},
    {.name = "-list-id", .value = takes::text, .text = &s.list_id, .is_list_field = true},
    {.name = "-list-owner", .value = takes::text, .text = &s.list_owner, .is_list_field = true},
    {.name = "-list-post", .value = takes::text, .text = &s.list_post, .is_list_field = true},
    {.name = "-list-subscribe", .value = takes::text, .text = &s.list_subscribe, .is_list_field = true},
    {.name = "-list-unsubscribe", .value = takes::text, .text = &s.list_unsubscribe, .is_list_field = true},
    {.name = "-maxdomains", .value = takes::number, .number = &s.max_domains},
    {.name = "-maxrcpts", .value = takes::number, .number = &s.max_rcpts},
    {.name = "-maxsize", .value = takes::number, .number = &s.max_size},
    {.name = "-owner", .value = takes::text, .text = &s.owner_address},
    {.name = "-precedence", .value = takes::text, .text = &s.precedence},
    {.name = "-private", .value = takes::nothing, .flag = &s.private_list},
    {.name = "-reply-to", .value = takes::text, .text = &s.reply_to},
    {.name = "+reply-to", .value = takes::text, .text = &s.reply_to, .forces_reply_to = true},
    {.name = "-s", .value = takes::nothing, .flag = &s.check_commands},
    {.name = "-sendmail", .value = takes::text, .text = &s.sendmail_flags},
    {.name = "-v", .value = takes::nothing, .count = &s.verbose},
};

const option* find_option(const char* name) {
  for (const option& o : options)
    if (std::strcmp(o.name, name) == 0) return &o;
  return nullptr;
}

// numeric_value - a limit is all digits, at least 1, and fits 32 signed bits;
// anything else gets the option's own text.
std::int32_t numeric_value(const char* option_name, const char* value) {
  std::int64_t number = 0;
  bool fits = is_all_digits(value);
  for (const char* p = value; fits && *p; ++p) {
    number = number * 10 + (*p - '0');
    if (number > INT32_MAX) fits = false;
  }
  if (!fits || number < 1)
    fatal(EX_USAGE, "illegal value for %s: %s\n", option_name, value);
  return static_cast<std::int32_t>(number);
}

void apply(const option& o, const char* value) {
  switch (o.value) {
    case takes::nothing:
      if (o.flag) *o.flag = 1;
      if (o.count) *o.count += 1;
      return;
    case takes::domain:
      if (!std::strchr(value, '.'))
        fatal(EX_USAGE,
              "Illegal argument to -domain: %s is not a fully-qualified "
              "domain name\n",
              value);
      *o.text = value;
      return;
    case takes::number:
      *o.number = numeric_value(o.name, value);
      return;
    case takes::text:
      *o.text = value;
      if (o.is_list_field) s.delete_list_headers = 1;
      if (o.forces_reply_to) s.force_reply_to = 1;
      return;
  }
}

}  // namespace

bool is_all_digits(const char* text) {
  if (!*text) return false;
  for (; *text; ++text)
    if (*text < '0' || *text > '9') return false;
  return true;
}

void parse_command_line(int argc, char** argv) {
  if (argc < 2) usage();
  int i = 1;
  while (argv[i][0] == '-' || argv[i][0] == '+') {
    const option* o = find_option(argv[i]);
    bool has_value = o && o->value != takes::nothing;
    if (!o || (has_value && i + 1 >= argc))
      fatal(EX_USAGE, "unknown flag %s\n", argv[i]);
    apply(*o, has_value ? argv[i + 1] : nullptr);
    i += has_value ? 2 : 1;
    if (i >= argc) usage();
  }
  if (argc - i != 2) usage();
  s.envelope_from = argv[i];
  s.recipient_list_file = argv[i + 1];
  if (!s.owner_address) s.owner_address = s.envelope_from;
}
