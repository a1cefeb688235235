#include "intake/added_fields.h"

#include <unistd.h>

#include "driver/run_settings.h"

namespace {

constexpr int minor_version = 13;
constexpr int minutes_per_day = 1440;

const char* const day_names[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const month_names[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

char trace_date[100];

void write_if_set(std::FILE* out, const char* name, const char* value) {
  if (value) std::fprintf(out, "%s: %s\n", name, value);
}

}  // namespace

const char* format_trace_date(std::time_t when) {
  // gmtime and localtime may share one record: copy the UTC values first.
  const std::tm* utc = std::gmtime(&when);
  const int utc_minute = utc->tm_min, utc_hour = utc->tm_hour;
  const int utc_year = utc->tm_year, utc_yday = utc->tm_yday;
  const std::tm* local = std::localtime(&when);

  // The clock difference alone is off by a day when the two dates differ;
  // across New Year the days of the year are not comparable, the years are.
  int offset = (local->tm_hour - utc_hour) * 60 + (local->tm_min - utc_minute);
  if (local->tm_year == utc_year)
    offset += (local->tm_yday - utc_yday) * minutes_per_day;
  else
    offset += (local->tm_year - utc_year) * minutes_per_day;
  char sign = '+';
  if (offset < 0) {
    sign = '-';
    offset = -offset;
  }
  std::snprintf(trace_date, sizeof trace_date, "%s, %d %s %04d %02d:%02d:%02d %c%02d%02d",
                day_names[local->tm_wday], local->tm_mday, month_names[local->tm_mon],
                local->tm_year + 1900, local->tm_hour, local->tm_min, local->tm_sec, sign,
                offset / 60, offset % 60);
  return trace_date;
}

void write_received_field(std::FILE* out, std::time_t when) {
  const char* date = format_trace_date(when);
  std::fprintf(out, "Received: by %s (skerla v1.%d); %s\n", settings.local_domain,
               minor_version, date);
}

void write_added_fields(std::FILE* out, const header_notes& notes, std::time_t when) {
  write_if_set(out, "Precedence", settings.precedence);
  write_if_set(out, "Comment", settings.comment);
  if (!notes.recipient_field_seen) std::fputs("To: undisclosed-recipients:;\n", out);
  if (settings.reply_to && (settings.force_reply_to || !notes.reply_to_seen))
    write_if_set(out, "Reply-To", settings.reply_to);
  if (!notes.message_id_seen) {
    const std::tm* local = std::localtime(&when);
    std::fprintf(out, "Message-ID: <skerla.%d.%4d%02d%02d%02d%02d%02d@%s>\n",
                 static_cast<int>(getpid()), local->tm_year + 1900, local->tm_mon + 1,
                 local->tm_mday, local->tm_hour, local->tm_min, local->tm_sec,
                 settings.local_domain);
  }
  write_if_set(out, "List-Archive", settings.list_archive);
  write_if_set(out, "List-Help", settings.list_help);
  write_if_set(out, "List-ID", settings.list_id);
  write_if_set(out, "List-Owner", settings.list_owner);
  write_if_set(out, "List-Post", settings.list_post);
  write_if_set(out, "List-Subscribe", settings.list_subscribe);
  write_if_set(out, "List-Unsubscribe", settings.list_unsubscribe);
  std::fputc('\n', out);
}
