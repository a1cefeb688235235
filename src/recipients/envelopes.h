// envelopes.h - send the message to the whole table in bounded envelopes.
//   deliver_in_envelopes()  sort by domain key, cut into envelopes of at most
//                           max_rcpts recipients and max_domains domains, one
//                           submission each; nothing at all for an empty table
//   sort_by_domain_key()    order the entries by key in strcmp order, file
//                           order kept among equal keys
//   opens_envelope(open, same_key, max_rcpts, max_domains)
//                           whether the next entry in key order begins a new
//                           envelope (the first entry always does); counts it
//                           in `open`. `same_key`: its key equals the last one's
#pragma once

#include <cstdint>

struct envelope_counts {
  std::int32_t recipients = 0;
  std::int32_t domains = 0;  // distinct keys
};

void deliver_in_envelopes();
void sort_by_domain_key();
bool opens_envelope(envelope_counts& open, bool same_key, std::int32_t max_rcpts,
                    std::int32_t max_domains);
