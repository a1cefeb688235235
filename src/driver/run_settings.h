// run_settings.h - the one record of settings for a run.
// Filled once by parse_command_line, read-only afterwards except local_domain,
// which find_local_domain fills when -domain was not given. Texts point into
// the argument vector; an absent text is nullptr, distinct from "".
#pragma once

#include <cstdint>

struct run_settings {
  const char* envelope_from = nullptr;
  const char* recipient_list_file = nullptr;
  const char* owner_address = nullptr;
  const char* local_domain = nullptr;
  const char* comment = nullptr;
  const char* precedence = nullptr;
  const char* reply_to = nullptr;
  int force_reply_to = 0;
  const char* list_archive = nullptr;
  const char* list_help = nullptr;
  const char* list_id = nullptr;
  const char* list_owner = nullptr;
  const char* list_post = nullptr;
  const char* list_subscribe = nullptr;
  const char* list_unsubscribe = nullptr;
  int delete_list_headers = 0;
  int check_commands = 0;
  int private_list = 0;
  std::int32_t max_size = 2147483647;
  std::int32_t max_rcpts = 100;
  std::int32_t max_domains = 20;
  const char* sendmail_flags = "";
  int debug = 0;
  int verbose = 0;
};

extern run_settings settings;
