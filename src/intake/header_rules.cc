#include "intake/header_rules.h"

#include <sysexits.h>

#include <cstdio>
#include <cstring>

#include "driver/fatal.h"
#include "driver/run_settings.h"
#include "intake/header_filter.h"
#include "intake/keywords.h"
#include "recipients/prefrobnicate.h"

namespace {

constexpr std::size_t longest_from_text = 1023;  // colon and line end included

char author_buffer[longest_from_text + 1];

enum class rule {
  approved, content_type, drop, from, list_field, message_id, reply_to, keep,
  return_path, sender, subject, report_type,
};

struct header_rule {
  const char* name;
  rule action;
};

constexpr header_rule header_rules[] = {
    {"approved", rule::approved},
    {"content-type", rule::content_type},
    {"content-length", rule::drop},
    {"disposition-notification-to", rule::drop},
    {"errors-to", rule::drop},
    {"from", rule::from},
    {"list-archive", rule::list_field},
    {"list-help", rule::list_field},
    {"list-id", rule::list_field},
    {"list-owner", rule::list_field},
    {"list-post", rule::list_field},
    {"list-subscribe", rule::list_field},
    {"list-unsubscribe", rule::list_field},
    {"mail-followup-to", rule::drop},
    {"message-id", rule::message_id},
    {"precedence", rule::drop},
    {"reply-to", rule::reply_to},
    {"resent-to", rule::keep},
    {"return-path", rule::return_path},
    {"return-receipt-to", rule::drop},
    {"sender", rule::sender},
    {"subject", rule::subject},
    {"transport-options", rule::drop},
    {"x-confirm-reading-to", rule::drop},
    {"x-pmrqc", rule::drop},
    {"x-report-type", rule::report_type},
};

const char* const subject_command_words[] = {"subscribe", "unsubscribe", "help"};

const char* const bounce_subject_phrases[] = {
    "automatic log from mail gateway", "delivery confirmation", "delivery error",
    "delivery failure", "delivery problems", "delivery report", "delivery status",
    "failed mail", "mail failure", "mail system problem", "message delayed",
    "non-delivery of:", "non-delivery notification", "non-delivery report",
    "nondelivery notification", "rcpt:", "receipt confirmation", "returned mail",
    "service message", "undeliverable mail", "undeliverable message",
    "undelivered mail", "waiting mail", "warning from uucp", "warning message",
    "warning: cannot send mail",
};

const char* const daemon_return_paths[] = {"mailer-daemon", "mmdf", "uucp"};

template <std::size_t n>
bool contains_any_word(const char* text, const char* const (&words)[n]) {
  for (const char* word : words)
    if (contains_word(text, word)) return true;
  return false;
}

}  // namespace

field_fate fate_of_field(header_notes& notes, const char* text) {
  // The mailbox separator, and a From field with a space before its colon.
  if (std::strncmp(text, "From ", 5) == 0) return field_fate::drop;
  if (field_name_is("to", text) || field_name_is("cc", text) || field_name_is("bcc", text)) {
    notes.recipient_field_seen = true;
    return field_fate::keep;
  }
  for (const header_rule& r : header_rules) {
    if (!field_name_is(r.name, text)) continue;
    const char* value = std::strchr(text, ':') + 1;
    switch (r.action) {
      case rule::approved:
        notes.approved_seen = true;
        return field_fate::drop;
      case rule::content_type:
        value += std::strspn(value, " \t");
        if (std::strncmp(value, "multipart/report", 16) == 0) notes.bounce_seen = true;
        return field_fate::keep;
      case rule::drop:
        return field_fate::drop;
      case rule::from:
        author_address = nullptr;
        if (std::strlen(value - 1) <= longest_from_text) {
          // Within the limit prefrobnicate never refuses, and its result, no
          // longer than its input, fits; one buffer serves every From field.
          std::snprintf(author_buffer, sizeof author_buffer, "%s", prefrobnicate(value));
          author_address = author_buffer;
        }
        return field_fate::keep;
      case rule::list_field:
        return settings.delete_list_headers ? field_fate::drop : field_fate::unmatched;
      case rule::message_id:
        notes.message_id_seen = true;
        return field_fate::keep;
      case rule::reply_to:
        if (settings.force_reply_to) return field_fate::drop;
        notes.reply_to_seen = true;
        return field_fate::keep;
      case rule::keep:
        return field_fate::keep;
      case rule::return_path: {
        const char* address = prefrobnicate(value);
        bool from_daemon = !*address;
        for (const char* prefix : daemon_return_paths)
          from_daemon = from_daemon || has_prefix(address, prefix);
        if (!from_daemon) return field_fate::drop;
        notes.bounce_seen = true;
        return field_fate::keep;
      }
      case rule::sender:
        if (contains_word(value, "mailer-daemon@"))
          fatal(EX_DATAERR, "skerla: refusing to forward bounced mail to the list\n");
        return field_fate::keep;
      case rule::subject:
        for (const char* word : subject_command_words)
          if (leading_word_is(value, word)) {
            notes.command_seen = true;
            return field_fate::keep;
          }
        if (contains_any_word(value, bounce_subject_phrases)) notes.bounce_seen = true;
        return field_fate::keep;
      case rule::report_type:
        if (contains_word(value, "nondelivery")) notes.bounce_seen = true;
        return field_fate::keep;
    }
  }
  return field_fate::unmatched;
}
