#include "recipients/recipient_list.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <strings.h>
#include <sysexits.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "driver/fatal.h"
#include "driver/run_settings.h"
#include "driver/short_copy.h"
#include "recipients/big_block.h"
#include "intake/header_filter.h"
#include "recipients/domain_key.h"
#include "recipients/prefrobnicate.h"

recipient_table recipients;
bool author_is_subscriber = false;

namespace {

constexpr std::size_t read_block_bytes = 1 << 18;
// The first size of the block of entries, unless the file's size tells
// better: a list line is seldom shorter than 28 bytes, and its entry takes
// at most its length and seven.
std::size_t first_local_parts_bytes = 1 << 20;
constexpr std::size_t largest_size_guess = std::size_t{1} << 30;
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
// ends its text early), or nullptr when the bytes read hold no more.
char* next_line(line_reader& r, std::size_t* length) {
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
  if (!r.at_end || r.start == r.end) return nullptr;
  // The last line needs no LF; a byte was kept free for its NUL.
  char* line = r.buffer + r.start;
  r.buffer[r.end] = '\0';
  *length = r.end - r.start;
  r.start = r.end;
  r.scanned = 0;
  return line;
}

// next_plain_line - the next line when it is a bare address, as most list
// lines are: not a comment, no byte up to space but its LF, none of
// " ( < > \\, and at most the longest canonical address; `*at` gets its first
// at sign or nullptr. One pass finds the line's end and its at sign, so
// the line needs no canonicalizing and no more searching. nullptr for any
// other line, and near the end of the bytes read: next_line takes those.
char* next_plain_line(line_reader& r, std::size_t* length, const char** at) {
#ifdef __SSE2__
  if (r.scanned) return nullptr;
  char* line = r.buffer + r.start;
  const char* end = r.buffer + r.end;
  const __m128i at_sign = _mm_set1_epi8('@');
  const char* first_at = nullptr;
  for (const char* p = line; end - p >= 16 && static_cast<std::size_t>(p - line) < canonical_address_bytes;
       p += 16) {
    __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    unsigned stop_bits = maybe_plain_end_bits(bytes);
    auto at_bits = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, at_sign)));
    if (stop_bits) at_bits &= (stop_bits & -stop_bits) - 1;  // only those before the stop
    if (!first_at && at_bits) first_at = p + __builtin_ctz(at_bits);
    if (!stop_bits) continue;
    char* stop = const_cast<char*>(p) + __builtin_ctz(stop_bits);
    std::size_t found = static_cast<std::size_t>(stop - line);
    if (*stop != '\n' || found == 0 || found >= canonical_address_bytes || line[0] == '#')
      return nullptr;
    *stop = '\0';
    *length = found;
    *at = first_at;
    r.start += found + 1;
    return line;
  }
#else
  (void)r;
  (void)length;
  (void)at;
#endif
  return nullptr;
}

// read_more - more of the file after the lines handed out, which it may
// move: they are gone. False at the end of the file.
bool read_more(line_reader& r) {
  if (r.at_end) return false;
  if (r.start > 0) {
    std::memmove(r.buffer, r.buffer + r.start, r.end - r.start);
    r.end -= r.start;
    r.start = 0;
  }
  if (r.capacity - r.end < read_block_bytes / 2) {
    r.capacity *= 2;
    r.buffer = static_cast<char*>(resize_or_exit(r.buffer, r.capacity));
  }
  ssize_t got;
  while ((got = read(r.fd, r.buffer + r.end, r.capacity - 1 - r.end)) < 0) {
    if (errno == EINTR) continue;
    // A list cut short would lose its remaining subscribers silently.
    fatal(EX_TEMPFAIL, "skerla: can't read recipient list %s (%s)\n", r.path,
          std::strerror(errno));
  }
  if (got == 0) r.at_end = true;
  r.end += static_cast<std::size_t>(got);
  return true;
}

// store_entry - one entry: its domain's number, its text's length and
// `flags`, and the text, NUL-ended, so that writing the address later needs
// no measuring. A local part is at most a whole canonical address, and a
// whole address stored here is canonical as it stands (completed ones are
// not stored whole): both fit.
void store_entry(std::uint32_t domain, const char* text, std::size_t length, stored_length flags) {
  recipient_table& t = recipients;
  std::size_t bytes_needed = stored_head_bytes + length + 1;
  if (bytes_needed > t.local_parts_capacity - t.local_parts_used) {
    std::size_t bytes = t.local_parts_capacity ? t.local_parts_capacity * 2 : first_local_parts_bytes;
    while (bytes - t.local_parts_used < bytes_needed) bytes *= 2;
    t.local_parts = static_cast<char*>(t.local_parts ? resize_or_exit(t.local_parts, bytes)
                                                     : big_block(bytes));
    t.local_parts_capacity = bytes;
  }
  // XXX Offsets are 32 bits to keep a sorted entry at 4 bytes; records
  // beyond 4 GiB in all count as memory exhausted, as do 2^31 entries.
  if (t.local_parts_used + stored_head_bytes > UINT32_MAX || t.count == INT32_MAX)
    fatal(EX_TEMPFAIL, "out of memory\n");
  char* head = t.local_parts + t.local_parts_used;
  auto prefix = static_cast<stored_length>(length | flags);
  std::memcpy(head, &domain, sizeof domain);
  std::memcpy(head + sizeof domain, &prefix, sizeof prefix);
  copy_short(head + stored_head_bytes, text, length);
  head[stored_head_bytes + length] = '\0';
  t.local_parts_used += bytes_needed;
  ++t.entries_of_domain[domain];
  ++t.count;
}

// domain_number - the number of a domain text, ASCII case aside, forming
// its key the first time the text is seen; key_scratch holds any key of
// such a text. `exact`: the text is spelt as the domain's stored text.
std::uint32_t domain_number(const char* domain, std::size_t length, std::uint32_t hash,
                            char* key_scratch, bool* exact) {
  recipient_table& t = recipients;
  std::uint32_t known = t.domains.count;
  std::uint32_t number = text_set_add_hashed(t.domains, domain, length, hash, exact);
  if (number < known) return number;
  if (number == t.domain_capacity) {
    t.domain_capacity = t.domains.capacity;
    t.key_of_domain = static_cast<std::uint32_t*>(
        resize_or_exit(t.key_of_domain, t.domain_capacity * sizeof *t.key_of_domain));
    t.entries_of_domain = static_cast<std::uint32_t*>(
        resize_or_exit(t.entries_of_domain, t.domain_capacity * sizeof *t.entries_of_domain));
  }
  t.entries_of_domain[number] = 0;
  // A key is made of the domain up to a comma or colon. A domain without
  // either has a key of its own (domains are distinct letter case aside,
  // and so are their keys); one with either shares the key of that first
  // part, taken as a domain of its own, so no table of keys is needed.
  const char* text = t.domains.texts[number];
  std::size_t first_part = std::strcspn(text, ",:");
  std::uint32_t key;
  if (first_part == length) {
    key = text_set_append(t.keys, key_scratch, write_domain_key(text, key_scratch));
  } else {
    bool ignored;
    std::uint32_t head = domain_number(text, first_part, text_set_hash(t.domains, text, first_part),
                                       key_scratch, &ignored);
    key = t.key_of_domain[head];
  }
  t.key_of_domain[number] = key;
  return number;
}

// The entries are taken in batches: the domain of each line is hashed and
// its slot fetched ahead, and only then are the batch's domains looked up,
// so that their cache misses overlap instead of following one another.
constexpr int batch_lines = 16;

struct pending_entry {
  const char* address;
  std::size_t address_length;
  std::size_t local_length;
  const char* domain;
  std::size_t domain_length;
  std::uint32_t hash;
  bool completed;  // the local domain was added
};

struct batch {
  pending_entry entries[batch_lines];
  int count;
  char* scratch;  // per entry, an address that is not in its line
  std::size_t scratch_bytes;
  char* key_scratch;
};

// take_batch - the pending entries into the table, in file order.
void take_batch(batch& b) {
  for (int i = 0; i < b.count; ++i) {
    const pending_entry& e = b.entries[i];
    // Domains that differ only in case share one number and key; an
    // address spelt otherwise than its domain's text is stored whole.
    bool exact;
    std::uint32_t domain_at = domain_number(e.domain, e.domain_length, e.hash, b.key_scratch, &exact);
    if (exact)
      store_entry(domain_at, e.address, e.local_length, 0);
    else if (!e.completed)
      store_entry(domain_at, e.address, e.address_length, stored_whole_address);
    else
      store_entry(domain_at, e.address, e.local_length, stored_local_domain);
    if (e.address_length > recipients.longest_address)
      recipients.longest_address = e.address_length;
  }
  b.count = 0;
}

// take_address - a canonical address, NUL-ended, whose first at sign is `at`
// (nullptr: none): discarded, or one entry pending in the batch.
void take_address(batch& b, const char* address, std::size_t address_length, const char* at) {
  char* scratch = b.scratch + b.count * b.scratch_bytes;
  pending_entry& e = b.entries[b.count];
  e.local_length = at ? static_cast<std::size_t>(at - address) : address_length;
  e.completed = !at;
  if (at) {
    e.domain = at + 1;
    e.domain_length = address_length - e.local_length - 1;
  } else {
    e.domain = settings.local_domain;
    e.domain_length = local_domain_length;
    std::memmove(scratch, address, address_length);
    scratch[address_length] = '@';
    std::memcpy(scratch + address_length + 1, e.domain, e.domain_length + 1);
    address = scratch;
    address_length += 1 + e.domain_length;
  }

  // The last at sign must have a local part before it.
  if (address[0] == '@' && !std::memchr(address + 1, '@', address_length - 1)) {
    if (settings.verbose) std::fprintf(stderr, "%s discarded (%s)\n", address, "no local-part");
    return;
  }
  if (!author_is_subscriber && address_length == author_length &&
      strncasecmp(author_address, address, address_length) == 0)
    author_is_subscriber = true;

  e.address = address;
  e.address_length = address_length;
  e.hash = text_set_hash(recipients.domains, e.domain, e.domain_length);
  text_set_prefetch(recipients.domains, e.hash);
  if (++b.count == batch_lines) take_batch(b);
}

// take_line - one line of the list: skipped, discarded, or one entry
// pending in the batch. The line stays in place until the batch is taken.
void take_line(batch& b, const char* line, std::size_t length) {
  const char* first = line;
  while (*first == ' ' || *first == '\t') ++first;
  if (*first == '#') return;  // a comment
  if (length > 0 && line[0] == '\0') return;

  std::string_view canonical = prefrobnicate_view(line, length);
  if (canonical.data() == prefrobnicate_refused) return;  // reported by prefrobnicate
  const char* address = canonical.data();
  std::size_t address_length = canonical.size();
  if (address != line) {  // the canonicalizer's buffer: the next line reuses it
    char* scratch = b.scratch + b.count * b.scratch_bytes;
    std::memcpy(scratch, address, address_length + 1);
    address = scratch;
  }
  take_address(b, address, address_length,
               static_cast<const char*>(std::memchr(address, '@', address_length)));
}

}  // namespace

void load_recipients() {
  const char* path = settings.recipient_list_file;
  // Close-on-exec: no sendmail child inherits the list.
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    fatal(EX_NOINPUT, "skerla: can't open recipient list %s (%s)\n", path, std::strerror(errno));

  // Room for a list of the file's size, in address space only: pages are
  // touched as they fill, and a list that grows on the way still fits. The
  // guess is bounded, so that a huge file of comments asks for no more.
  struct stat list_status;
  if (fstat(fd, &list_status) == 0 && S_ISREG(list_status.st_mode)) {
    auto size = std::min(static_cast<std::size_t>(list_status.st_size), largest_size_guess);
    first_local_parts_bytes = std::max(first_local_parts_bytes, size + size / 4);
  }
  recipients.domains.ignore_case = true;
  local_domain_length = std::strlen(settings.local_domain);
  author_length = author_address ? std::strlen(author_address) : SIZE_MAX;
  line_reader reader{fd, path, static_cast<char*>(alloc_or_exit(read_block_bytes)),
                     read_block_bytes, 0, 0, 0, false};
  // A canonical address is at most 1023 bytes; completed, the local domain
  // and its at sign come on top, and no key is longer than its address.
  batch pending{};
  pending.scratch_bytes = canonical_address_bytes + 1 + local_domain_length;
  pending.scratch = static_cast<char*>(alloc_or_exit(batch_lines * pending.scratch_bytes));
  pending.key_scratch = static_cast<char*>(alloc_or_exit(pending.scratch_bytes));

  do {
    std::size_t length;
    const char* at;
    for (;;) {
      if (const char* line = next_plain_line(reader, &length, &at)) {
        take_address(pending, line, length, at);
      } else if (const char* other = next_line(reader, &length)) {
        take_line(pending, other, length);
      } else {
        break;
      }
    }
    take_batch(pending);  // before reading more moves the lines
  } while (read_more(reader));

  close(fd);
  // The lookup table is the largest block after the entries, and the sort
  // that comes next needs room for their order.
  text_set_stop_adding(recipients.domains);
  std::free(reader.buffer);
  std::free(pending.scratch);
  std::free(pending.key_scratch);
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
