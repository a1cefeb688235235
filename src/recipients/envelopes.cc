#include "recipients/envelopes.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "driver/fatal.h"
#include "driver/run_settings.h"
#include "recipients/big_block.h"
#include "recipients/recipient_list.h"
#include "submit/submission.h"

bool opens_envelope(envelope_counts& open, bool same_key, std::int32_t max_rcpts,
                    std::int32_t max_domains) {
  // The recipient limit comes before the key: a full envelope is finished
  // even when the next entry's domain is already in it.
  if (open.domains == 0 || open.recipients >= max_rcpts) {
    open = {1, 1};
    return true;
  }
  if (same_key) {
    ++open.recipients;
    return false;
  }
  if (open.domains >= max_domains) {
    open = {1, 1};
    return true;
  }
  ++open.recipients;
  ++open.domains;
  return false;
}

namespace {

struct ranked_key {
  std::uint64_t head;
  std::uint32_t number;
};

}  // namespace

void sort_by_domain_key() {
  recipient_table& t = recipients;
  std::uint32_t key_count = t.keys.count;
  const char* const* keys = t.keys.texts;

  // The distinct keys are few beside the entries: sort them once, then
  // place every entry by its key's rank (a counting sort, stable, so equal
  // keys keep file order and the envelopes come out the same every run).
  // Each key's first eight bytes, read as a big-endian number, order most
  // pairs without following the pointers to the texts.
  auto* by_text = static_cast<ranked_key*>(alloc_or_exit(key_count * sizeof(ranked_key)));
  for (std::uint32_t k = 0; k < key_count; ++k) {
    std::uint64_t head = 0;
    for (std::size_t i = 0; i < 8 && keys[k][i]; ++i)
      head |= std::uint64_t{static_cast<unsigned char>(keys[k][i])} << (56 - 8 * i);
    by_text[k] = {head, k};
  }
  std::sort(by_text, by_text + key_count, [keys](const ranked_key& a, const ranked_key& b) {
    if (a.head != b.head) return a.head < b.head;
    return std::strcmp(keys[a.number], keys[b.number]) < 0;
  });

  // next[k]: where the next entry of key k goes. The entries of each key
  // were counted by domain as they were stored.
  auto* next = static_cast<std::size_t*>(alloc_or_exit(key_count * sizeof(std::size_t)));
  std::memset(next, 0, key_count * sizeof(std::size_t));
  for (std::uint32_t d = 0; d < t.domains.count; ++d) next[t.key_of_domain[d]] += t.entries_of_domain[d];
  std::size_t position = 0;
  for (std::uint32_t rank = 0; rank < key_count; ++rank) {
    std::size_t entries_of_key = next[by_text[rank].number];
    next[by_text[rank].number] = position;
    position += entries_of_key;
  }

  // One pass over the entries in file order, each placed by its key.
  auto* sorted = static_cast<recipient*>(
      big_block(static_cast<std::size_t>(t.count) * sizeof(recipient)));
  recipient r = first_recipient();
  for (std::int32_t i = 0; i < t.count; ++i, r = next_recipient(r))
    sorted[next[key_number(r)]++] = r;
  std::free(t.entries);
  t.entries = sorted;
  std::free(next);
  std::free(by_text);
}

namespace {

// The entries now lie in key order while their local parts lie in file
// order, so each address is a cache miss unless fetched ahead of time.
constexpr std::int32_t prefetch_distance = 16;

void finish_envelope(submission* s) {
  send_spool_data(s);
  close_submission(s);  // the driver reads the outcome from the counts
}

}  // namespace

void deliver_in_envelopes() {
  if (recipients.count == 0) return;
  sort_by_domain_key();

  submission* s = nullptr;
  envelope_counts open;
  std::uint32_t previous_key = 0;
  for (std::int32_t i = 0; i < recipients.count; ++i) {
    if (i + prefetch_distance < recipients.count)
      __builtin_prefetch(recipients.local_parts +
                         recipients.entries[i + prefetch_distance].local_part);
    const recipient& r = recipients.entries[i];
    std::uint32_t key = key_number(r);
    if (opens_envelope(open, i > 0 && key == previous_key, settings.max_rcpts,
                       settings.max_domains)) {
      if (s) finish_envelope(s);
      s = open_submission();
    }
    previous_key = key;
    address_in_parts address = address_parts(r);
    if (address.has_domain)
      write_recipient_at(s, address.before_at, address.domain);
    else
      write_recipient(s, address.before_at);
  }
  finish_envelope(s);
}
