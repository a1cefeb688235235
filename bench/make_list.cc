// make_list.cc - a subscriber list for the benchmark, the same for the same
// seed.
//   bench_make_list SEED ENTRIES DOMAINS LIST_FILE KEYS_FILE
// LIST_FILE gets ENTRIES address lines over exactly DOMAINS domains: a few
// very large domains and a long tail (Zipf weights 1/rank^1.2: the largest
// domain holds about a fifth of the list), in shuffled order.
// Most lines are bare addresses; some are "Name <addr>", "addr (Name)" or
// indented; about 8% write the domain in mixed case, about 0.1% repeat an
// earlier address, and about 1% more lines are comments or blank.
// KEYS_FILE gets the domain key of every entry (domain upper-cased, then
// reversed), one a line in list order: what the sort baseline sorts.
// Exits 64 on bad arguments, 73 when a file cannot be written.
#include <sysexits.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "seeded_random.h"

namespace {

const char* const big_domains[] = {
    "gmail.com",   "yahoo.com",  "hotmail.com", "outlook.com", "aol.com",
    "gmx.de",      "web.de",     "icloud.com",  "mail.ru",     "comcast.net",
    "orange.fr",   "free.fr",    "btinternet.com", "libero.it", "yandex.ru",
    "qq.com",      "t-online.de", "verizon.net", "wanadoo.fr", "live.com",
};

const char* const words[] = {
    "alder", "birch", "cedar", "delta", "ember", "fjord", "grove", "harbor",
    "iris", "juniper", "kestrel", "lumen", "maple", "nimbus", "onyx", "pine",
    "quartz", "raven", "sierra", "tundra", "umber", "vale", "willow", "yarrow",
    "zephyr", "acme", "north", "south", "east", "west", "blue", "river",
};

const char* const tails[] = {
    ".com", ".net", ".org", ".de", ".co.uk", ".fr", ".nl", ".edu", ".ac.uk",
    ".it", ".se", ".ch", ".io", ".com.au", ".ca", ".jp",
};

const char* const first_names[] = {
    "anna", "ben", "clara", "david", "elena", "felix", "grace", "henrik",
    "ines", "jakob", "karin", "lars", "maria", "niels", "olga", "peter",
    "quinn", "rosa", "stefan", "tanja", "ulrich", "vera", "walter", "xenia",
    "yusuf", "zoe", "amir", "bea", "carlos", "dana", "emil", "freya",
};

const char* const last_names[] = {
    "berg", "costa", "dahl", "eriksen", "fischer", "garcia", "huber",
    "ivanova", "jensen", "kowalski", "larsen", "meyer", "novak", "olsen",
    "petrov", "quist", "rossi", "schmidt", "tanaka", "urban", "vogel",
    "weber", "xu", "young", "zimmer", "andersson", "baker", "chen", "dubois",
    "evans", "fontaine", "gruber",
};

template <typename T, std::size_t n>
const char* pick(const T (&table)[n], std::uint64_t bits) {
  return table[bits % n];
}

// domain_name - rank 0 is the largest domain; the first ranks are real-world
// providers, the rest made unique by their rank.
std::string domain_name(std::size_t rank, seeded_random& random) {
  if (rank < std::size(big_domains)) return big_domains[rank];
  std::string name;
  switch (random.below(4)) {
    case 0: name = "mail."; break;
    case 1: name = "lists."; break;
    default: break;
  }
  name += pick(words, random.next());
  name += std::to_string(rank);
  name += pick(tails, random.next());
  return name;
}

// entry_counts - every domain gets one entry, the rest is shared by weight
// 1/rank^1.2, rounding down; what rounding leaves goes to the largest domains.
std::vector<std::size_t> entry_counts(std::size_t entries, std::size_t domains) {
  std::vector<double> weight(domains);
  double total = 0;
  for (std::size_t r = 0; r < domains; ++r) total += weight[r] = std::pow(r + 1.0, -1.2);
  std::vector<std::size_t> count(domains, 1);
  std::size_t given = domains;
  for (std::size_t r = 0; r < domains; ++r) {
    std::size_t more = static_cast<std::size_t>((entries - domains) * weight[r] / total);
    count[r] += more;
    given += more;
  }
  for (std::size_t r = 0; given < entries; r = (r + 1) % domains, ++given) ++count[r];
  return count;
}

void append_local_part(std::string& line, std::uint64_t bits) {
  const char* first = pick(first_names, bits);
  const char* last = pick(last_names, bits >> 8);
  unsigned number = static_cast<unsigned>(bits >> 16) % 10000;
  switch ((bits >> 40) % 6) {
    case 0: line += first; line += '.'; line += last; break;
    case 1: line += first; line += last; line += std::to_string(number % 100); break;
    case 2: line += first[0]; line += '.'; line += last; break;
    case 3: line += first; line += '_'; line += last; line += std::to_string(number); break;
    case 4: line += last; line += std::to_string(number % 1000); break;
    default: line += first; line += std::to_string(number); break;
  }
}

void append_display_name(std::string& line, std::uint64_t bits) {
  auto capitalized = [&line](const char* name) {
    line += static_cast<char>(name[0] - 'a' + 'A');
    line += name + 1;
  };
  capitalized(pick(first_names, bits));
  line += ' ';
  capitalized(pick(last_names, bits >> 8));
}

// append_domain - as written by the subscriber: sometimes in mixed case.
void append_domain(std::string& line, const std::string& domain, seeded_random& random) {
  std::size_t start = line.size();
  line += domain;
  if (!random.chance(80)) return;
  bool all = random.chance(300);
  for (std::size_t i = start; i < line.size(); ++i)
    if (line[i] >= 'a' && line[i] <= 'z' && (all || random.chance(250)))
      line[i] = static_cast<char>(line[i] - 'a' + 'A');
}

void append_key(std::string& keys, const std::string& domain) {
  for (std::size_t i = domain.size(); i-- > 0;) {
    char c = domain[i];
    keys += c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
  }
  keys += '\n';
}

bool parse_count(const char* text, std::size_t* value) {
  char* end;
  unsigned long long v = std::strtoull(text, &end, 10);
  *value = static_cast<std::size_t>(v);
  return *text && !*end;
}

void write_or_exit(std::FILE* f, const std::string& text, const char* path) {
  if (!text.empty() && std::fwrite(text.data(), 1, text.size(), f) != text.size()) {
    std::fprintf(stderr, "bench_make_list: can't write %s\n", path);
    std::exit(EX_CANTCREAT);
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::size_t seed, entries, domains;
  if (argc != 6 || !parse_count(argv[1], &seed) || !parse_count(argv[2], &entries) ||
      !parse_count(argv[3], &domains) || domains == 0 || entries < domains) {
    std::fputs("usage: bench_make_list SEED ENTRIES DOMAINS LIST_FILE KEYS_FILE\n"
               "       (1 <= DOMAINS <= ENTRIES)\n", stderr);
    return EX_USAGE;
  }
  std::FILE* list = std::fopen(argv[4], "w");
  std::FILE* keys = std::fopen(argv[5], "w");
  if (!list || !keys) {
    std::fprintf(stderr, "bench_make_list: can't create %s\n", list ? argv[5] : argv[4]);
    return EX_CANTCREAT;
  }
  seeded_random random{seed};

  std::vector<std::string> domain(domains);
  for (std::size_t r = 0; r < domains; ++r) domain[r] = domain_name(r, random);
  std::vector<std::size_t> count = entry_counts(entries, domains);

  // One slot per entry naming its domain, shuffled: subscribers join in no
  // order of domain.
  std::vector<std::uint32_t> slot;
  slot.reserve(entries);
  for (std::size_t r = 0; r < domains; ++r) slot.insert(slot.end(), count[r], r);
  for (std::size_t i = entries; i > 1; --i)
    std::swap(slot[i - 1], slot[random.below(i)]);

  // The last local part used at each domain, for the few duplicates.
  std::vector<std::uint64_t> last_local(domains, 0);
  std::string out = "# Subscribers of bench@lists.example.org\n"
                    "# generated: one address per line, comments start with '#'\n\n";
  std::string key_text;
  constexpr std::size_t flush_bytes = 1 << 20;
  for (std::size_t i = 0; i < entries; ++i) {
    std::uint32_t d = slot[i];
    std::uint64_t local = random.next() | 1;
    if (last_local[d] && random.chance(1)) local = last_local[d];
    last_local[d] = local;

    unsigned shape = static_cast<unsigned>(random.below(1000));
    if (shape < 70) {
      append_display_name(out, local);
      out += " <";
    } else if (shape < 85) {
      out += '"';
      append_display_name(out, local);
      out += "\" <";
    } else if (shape < 100) {
      out += random.chance(500) ? "  " : "\t";
    }
    append_local_part(out, local);
    out += '@';
    append_domain(out, domain[d], random);
    if (shape < 85) {
      out += '>';
    } else if (shape >= 100 && shape < 150) {
      out += " (";
      append_display_name(out, local);
      out += ')';
    }
    out += '\n';
    append_key(key_text, domain[d]);

    if (random.chance(10)) out += random.chance(500) ? "\n" : "# moved to digest\n";
    if (out.size() >= flush_bytes) write_or_exit(list, out, argv[4]), out.clear();
    if (key_text.size() >= flush_bytes) write_or_exit(keys, key_text, argv[5]), key_text.clear();
  }
  write_or_exit(list, out, argv[4]);
  write_or_exit(keys, key_text, argv[5]);
  if (std::fclose(list) != 0 || std::fclose(keys) != 0) {
    std::fputs("bench_make_list: can't write the output\n", stderr);
    return EX_CANTCREAT;
  }
  return 0;
}
