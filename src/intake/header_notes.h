// header_notes.h - what the header filter noticed while reading the header.
// All false at the start of spooling; set, never cleared, by the filter; read
// by the classification and by write_added_fields.
#pragma once

struct header_notes {
  bool recipient_field_seen = false;  // a To, Cc or Bcc field was kept
  bool reply_to_seen = false;         // the input's Reply-To was kept
  bool message_id_seen = false;       // the input's Message-ID was kept
  bool approved_seen = false;         // an Approved field (dropped) was found
  bool bounce_seen = false;           // a field marks a delivery report
  bool command_seen = false;          // the Subject or the body's first five
                                      // lines hold a list-server command
};
