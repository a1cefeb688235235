#include "recipients/recipient_list.h"

#include <fcntl.h>
#include <strings.h>
#include <sysexits.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "driver/fatal.h"
#include "driver/run_settings.h"
#include "intake/header_filter.h"
#include "recipients/domain_key.h"
#include "recipients/prefrobnicate.h"

recipient_table recipients;
bool author_is_subscriber = false;

namespace {

constexpr std::size_t read_block_bytes = 1 << 16;
constexpr std::int32_t first_entry_capacity = 1 << 16;
constexpr std::size_t first_local_parts_bytes = 1 << 20;
constexpr std::size_t canonical_address_bytes = 1024;
static_assert(canonical_address_bytes <= stored_length_mask);

std::size_t local_domain_length;
std::size_t author_length;  // SIZE_MAX when there is no author

void* resize_or_exit(void* block, std::size_t bytes) {
  void* moved = std::realloc(block, bytes);
  if (!moved) fatal(EX_TEMPFAIL, "out of memory\n");
  return moved;
}

// The list is read in large blocks and each line is handed out in place,
// its LF replaced by NUL. A line longer than the buffer grows the buffer:
// a line of any length is one line.
struct line_reader {
  int fd;
  const char* path;
  char* buffer;
  std::size_t capacity;
  std::size_t start;    // first byte not handed out yet
  std::size_t end;      // end of the bytes read
  std::size_t scanned;  // bytes after start known to hold no LF
  bool at_end;
};

// next_line - the next line and its length up to the LF (a NUL inside
// ends its text early), or nullptr at the end of the file.
char* next_line(line_reader& r, std::size_t* length) {
  for (;;) {
    char* from = r.buffer + r.start + r.scanned;
    if (auto* lf = static_cast<char*>(std::memchr(from, '\n', r.end - r.start - r.scanned))) {
      char* line = r.buffer + r.start;
      *lf = '\0';
      *length = static_cast<std::size_t>(lf - line);
      r.start += *length + 1;
      r.scanned = 0;
      return line;
    }
    r.scanned = r.end - r.start;
    if (r.at_end) {
      if (r.start == r.end) return nullptr;
      // The last line needs no LF; a byte was kept free for its NUL.
      char* line = r.buffer + r.start;
      r.buffer[r.end] = '\0';
      *length = r.end - r.start;
      r.start = r.end;
      r.scanned = 0;
      return line;
    }
    if (r.start > 0) {
      std::memmove(r.buffer, r.buffer + r.start, r.end - r.start);
      r.end -= r.start;
      r.start = 0;
    }
    if (r.capacity - r.end < read_block_bytes / 2) {
      r.capacity *= 2;
      r.buffer = static_cast<char*>(resize_or_exit(r.buffer, r.capacity));
    }
    ssize_t got = read(r.fd, r.buffer + r.end, r.capacity - 1 - r.end);
    if (got < 0) {
      if (errno == EINTR) continue;
      // A list cut short would lose its remaining subscribers silently.
      fatal(EX_TEMPFAIL, "skerla: can't read recipient list %s (%s)\n", r.path,
            std::strerror(errno));
    }
    if (got == 0) r.at_end = true;
    r.end += static_cast<std::size_t>(got);
  }
}

// store_text - the text, NUL-ended, after its stored length and `flags`,
// so that writing the address later needs no measuring. A local part is
// at most a whole canonical address, and a whole address stored here is
// canonical as it stands (completed ones are not stored whole): both fit.
std::uint32_t store_text(const char* text, std::size_t length, stored_length flags) {
  recipient_table& t = recipients;
  std::size_t bytes_needed = sizeof(stored_length) + length + 1;
  if (bytes_needed > t.local_parts_capacity - t.local_parts_used) {
    std::size_t bytes = t.local_parts_capacity ? t.local_parts_capacity * 2 : first_local_parts_bytes;
    while (bytes - t.local_parts_used < bytes_needed) bytes *= 2;
    t.local_parts = static_cast<char*>(resize_or_exit(t.local_parts, bytes));
    t.local_parts_capacity = bytes;
  }
  // XXX Offsets are 32 bits to keep an entry at 8 bytes; local parts
  // beyond 4 GiB in all count as memory exhausted.
  if (t.local_parts_used + sizeof(stored_length) > UINT32_MAX)
    fatal(EX_TEMPFAIL, "out of memory\n");
  auto offset = static_cast<std::uint32_t>(t.local_parts_used + sizeof(stored_length));
  auto prefix = static_cast<stored_length>(length | flags);
  std::memcpy(t.local_parts + offset - sizeof prefix, &prefix, sizeof prefix);
  std::memcpy(t.local_parts + offset, text, length);
  t.local_parts[offset + length] = '\0';
  t.local_parts_used += bytes_needed;
  return offset;
}

// domain_number - the number of a domain text, ASCII case aside, forming
// its key the first time the text is seen; key_scratch holds any key of
// such a text. `exact`: the text is spelt as the domain's stored text.
std::uint32_t domain_number(const char* domain, std::size_t length, char* key_scratch,
                            bool* exact) {
  recipient_table& t = recipients;
  std::uint32_t known = t.domains.count;
  std::uint32_t number = text_set_add(t.domains, domain, length, exact);
  if (number < known) return number;
  if (number == t.key_of_domain_capacity) {
    t.key_of_domain_capacity = t.domains.capacity;
    t.key_of_domain = static_cast<std::uint32_t*>(
        resize_or_exit(t.key_of_domain, t.key_of_domain_capacity * sizeof *t.key_of_domain));
  }
  std::size_t key_length = write_domain_key(t.domains.texts[number], key_scratch);
  t.key_of_domain[number] = text_set_add(t.keys, key_scratch, key_length);
  return number;
}

void add_entry(std::uint32_t local_part, std::uint32_t domain) {
  recipient_table& t = recipients;
  if (t.count == t.capacity) {
    if (t.capacity > INT32_MAX / 2) fatal(EX_TEMPFAIL, "out of memory\n");
    t.capacity = t.capacity ? t.capacity * 2 : first_entry_capacity;
    t.entries = static_cast<recipient*>(
        resize_or_exit(t.entries, static_cast<std::size_t>(t.capacity) * sizeof *t.entries));
  }
  t.entries[t.count++] = recipient{local_part, domain};
}

// take_line - one line of the list: skipped, discarded, or one entry.
// `completed` holds an unqualified address with the local domain added.
void take_line(const char* line, std::size_t length, char* completed, char* key_scratch) {
  if (line[std::strspn(line, " \t")] == '#') return;  // a comment
  if (length > 0 && line[0] == '\0') return;

  std::string_view canonical = prefrobnicate_view(line);
  if (canonical.data() == prefrobnicate_refused) return;  // reported by prefrobnicate
  const char* address = canonical.data();
  std::size_t address_length = canonical.size();

  const char* domain;
  std::size_t domain_length;
  const char* at = static_cast<const char*>(std::memchr(address, '@', address_length));
  std::size_t local_length = at ? static_cast<std::size_t>(at - address) : address_length;
  if (at) {
    domain = at + 1;
    domain_length = address_length - local_length - 1;
  } else {
    domain = settings.local_domain;
    domain_length = local_domain_length;
    std::memcpy(completed, address, address_length);
    completed[address_length] = '@';
    std::memcpy(completed + address_length + 1, domain, domain_length + 1);
    address = completed;
    address_length += 1 + domain_length;
  }

  // The last at sign must have a local part before it.
  if (address[0] == '@' && !std::memchr(address + 1, '@', address_length - 1)) {
    if (settings.verbose) std::fprintf(stderr, "%s discarded (%s)\n", address, "no local-part");
    return;
  }
  if (!author_is_subscriber && address_length == author_length &&
      strncasecmp(author_address, address, address_length) == 0)
    author_is_subscriber = true;

  // Domains that differ only in case share one number and key; an address
  // spelt otherwise than its domain's text is stored whole.
  bool exact;
  std::uint32_t domain_at = domain_number(domain, domain_length, key_scratch, &exact);
  std::uint32_t stored;
  if (exact)
    stored = store_text(address, local_length, 0);
  else if (at)
    stored = store_text(address, address_length, stored_whole_address);
  else
    stored = store_text(address, local_length, stored_local_domain);
  add_entry(stored, domain_at);
  if (address_length > recipients.longest_address) recipients.longest_address = address_length;
}

}  // namespace

void load_recipients() {
  const char* path = settings.recipient_list_file;
  // Close-on-exec: no sendmail child inherits the list.
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    fatal(EX_NOINPUT, "skerla: can't open recipient list %s (%s)\n", path, std::strerror(errno));

  recipients.domains.ignore_case = true;
  local_domain_length = std::strlen(settings.local_domain);
  author_length = author_address ? std::strlen(author_address) : SIZE_MAX;
  line_reader reader{fd, path, static_cast<char*>(alloc_or_exit(read_block_bytes)),
                     read_block_bytes, 0, 0, 0, false};
  // A canonical address is at most 1023 bytes; completed, the local domain
  // and its at sign come on top, and no key is longer than its address.
  std::size_t scratch_bytes = canonical_address_bytes + 1 + local_domain_length;
  auto* completed = static_cast<char*>(alloc_or_exit(scratch_bytes));
  auto* key_scratch = static_cast<char*>(alloc_or_exit(scratch_bytes));

  std::size_t length;
  while (const char* line = next_line(reader, &length))
    take_line(line, length, completed, key_scratch);

  close(fd);
  std::free(reader.buffer);
  std::free(completed);
  std::free(key_scratch);
}

std::string_view local_domain_text() { return {settings.local_domain, local_domain_length}; }

std::size_t write_address(const recipient& r, char* out) {
  std::string_view stored = stored_text(r);
  std::memcpy(out, stored.data(), stored.size() + 1);
  if (stored_whole(r)) return stored.size();
  std::string_view domain = domain_text(r);
  out[stored.size()] = '@';
  std::memcpy(out + stored.size() + 1, domain.data(), domain.size() + 1);
  return stored.size() + 1 + domain.size();
}

address_buffer new_address_buffer() {
  auto* buffer = static_cast<char*>(alloc_or_exit(recipients.longest_address + 1));
  return {buffer, buffer + recipients.longest_address + 1, nullptr};
}
