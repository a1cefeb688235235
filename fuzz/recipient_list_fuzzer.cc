// recipient_list_fuzzer - the list loader on arbitrary list files.
// The input is the whole list file. Every line (split on LF alone, the last
// one with or without it) that is no comment, does not begin with NUL, is
// not refused by the canonicalizer and keeps a local part must give one
// entry, in file order: its canonical address, completed with
// "@example.org" when it has no at sign, and the key made of the text after
// the first at sign up to a comma or colon, upper-cased and reversed. Equal
// keys must share one number, the longest address must be known, and the
// author must be found whatever the case.
//
// The list is an anonymous memory file opened by its /proc/self/fd path, so
// nothing is written under /tmp; the table is freed after every input.
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "driver/run_settings.h"
#include "fuzz/fuzz_support.h"
#include "intake/header_filter.h"
#include "recipients/prefrobnicate.h"
#include "recipients/recipient_list.h"

namespace {

int list_fd = -1;
char list_path[64];

struct entry {
  std::string address;
  std::string key;
};

std::string key_of(const std::string& address) {
  std::string domain = address.substr(address.find('@') + 1);
  domain = domain.substr(0, domain.find_first_of(",:"));
  std::string key(domain.rbegin(), domain.rend());
  for (char& c : key)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return key;
}

std::vector<entry> expected_entries(const std::uint8_t* data, std::size_t size) {
  std::vector<entry> want;
  const std::string list(reinterpret_cast<const char*>(data), size);
  for (std::size_t at = 0; at < list.size();) {
    std::size_t lf = list.find('\n', at);
    std::size_t end = lf == std::string::npos ? list.size() : lf;
    const std::string line = list.substr(at, end - at);
    at = end + 1;
    const char* text = line.c_str();  // up to any NUL
    if (text[std::strspn(text, " \t")] == '#') continue;
    if (!line.empty() && line[0] == '\0') continue;
    const char* canonical = prefrobnicate(text);
    if (canonical == prefrobnicate_refused) continue;
    std::string address = canonical;
    if (address.find('@') == std::string::npos) address += "@example.org";
    if (address.rfind('@') == 0) continue;  // no local part
    want.push_back({address, key_of(address)});
  }
  return want;
}

// free_texts - a set's copies lie in blocks, each begun by the first copy
// made into it; a copy that does not follow its forerunner begins a block.
void free_texts(text_set& set) {
  std::vector<const char*> blocks;
  for (std::uint32_t n = 0; n < set.count; ++n)
    if (n == 0 || set.texts[n] != set.texts[n - 1] + std::strlen(set.texts[n - 1]) + 1)
      blocks.push_back(set.texts[n]);
  for (const char* block : blocks) std::free(const_cast<char*>(block));
  std::free(set.texts);
  std::free(set.lengths);
  std::free(set.slots);
}

void free_table() {
  std::free(recipients.entries);
  std::free(recipients.local_parts);
  std::free(recipients.key_of_domain);
  std::free(recipients.entries_of_domain);
  free_texts(recipients.domains);
  free_texts(recipients.keys);
  recipients = recipient_table{};
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  quiet_program_messages();
  list_fd = memory_file();
  std::snprintf(list_path, sizeof list_path, "/proc/self/fd/%d", list_fd);
  settings.recipient_list_file = list_path;
  settings.local_domain = "example.org";
  settings.verbose = 1;
  author_address = "Author@Example.ORG";
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  check(ftruncate(list_fd, 0) == 0, "truncate the list");
  check(pwrite(list_fd, data, size, 0) == static_cast<ssize_t>(size), "write the list");
  author_is_subscriber = false;

  load_recipients();

  const std::vector<entry> want = expected_entries(data, size);
  check(recipients.count == static_cast<std::int32_t>(want.size()), "entry count");
  std::vector<char> address(recipients.longest_address + 1);
  std::map<std::string, std::uint32_t> number_of_key;
  std::size_t longest = 0;
  bool author_found = false;
  recipient r = first_recipient();
  for (std::size_t i = 0; i < want.size(); ++i, r = next_recipient(r)) {
    std::size_t length = write_address(r, address.data());
    check(want[i].address == std::string(address.data(), length), "entry's address");
    check(want[i].key == domain_key(r), "entry's domain key");
    auto known = number_of_key.emplace(want[i].key, key_number(r));
    check(known.first->second == key_number(r), "equal keys, different numbers");
    longest = std::max(longest, length);
    author_found = author_found || strcasecmp(want[i].address.c_str(), author_address) == 0;
  }
  check(number_of_key.size() == recipients.keys.count, "different keys share a number");
  check(longest == recipients.longest_address, "longest address");
  check(author_found == author_is_subscriber, "author_is_subscriber");
  free_table();
  return 0;
}
