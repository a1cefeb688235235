// make_post.cc - a list post of a given size for the benchmark, the same for
// the same seed.
//   bench_make_post SEED BYTES POST_FILE
// POST_FILE gets exactly BYTES bytes (at least the header's): a mailbox
// "From " line and an ordinary header of about 1 KB, an empty line, then
// paragraphs of text lines of up to 76 characters, some quoted with "> ",
// about 2% starting with a full stop, ending in LF. Nothing in it marks a
// bounce or a list-server command. Exits 64 on bad arguments, 73 when the
// file cannot be written.
#include <sysexits.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "seeded_random.h"

namespace {

const char header[] =
    "From anna.berg@example.com  Tue Mar  3 10:15:02 2026\n"
    "Return-Path: <anna.berg@example.com>\n"
    "Received: from mx.example.com (mx.example.com [192.0.2.25])\n"
    "\tby lists.example.org (Postfix) with ESMTPS id 4F1A2B3C4D\n"
    "\tfor <bench@lists.example.org>; Tue,  3 Mar 2026 10:15:02 +0100 (CET)\n"
    "Received: from [198.51.100.7] (helo=laptop.example.com)\n"
    "\tby mx.example.com with esmtpsa (TLS1.3:ECDHE_RSA_AES_256_GCM_SHA384:256)\n"
    "\tid 1wXyZa-0003Kd-Qr; Tue, 03 Mar 2026 10:14:58 +0100\n"
    "DKIM-Signature: v=1; a=rsa-sha256; c=relaxed/relaxed; d=example.com;\n"
    "\ts=mail; t=1772529298; bh=47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU=;\n"
    "\th=From:To:Subject:Date:Message-ID; b=dGhpcyBpcyBub3QgYSByZWFsIHNp\n"
    "\tZ25hdHVyZSwganVzdCBhIGZpeGVkIGJsb2NrIG9mIHRleHQgZm9yIHRoZSBiZW5jaG1h\n"
    "From: Anna Berg <anna.berg@example.com>\n"
    "To: bench@lists.example.org\n"
    "Cc: Felix Huber <felix.huber@example.net>\n"
    "Subject: Minutes of the March meeting, and the summer schedule\n"
    "Date: Tue, 3 Mar 2026 10:14:55 +0100\n"
    "Message-ID: <20260303101455.7f3a9c@laptop.example.com>\n"
    "In-Reply-To: <20260301180203.11aa22@mail.example.net>\n"
    "References: <20260301180203.11aa22@mail.example.net>\n"
    "MIME-Version: 1.0\n"
    "Content-Type: text/plain; charset=utf-8; format=flowed\n"
    "Content-Transfer-Encoding: 8bit\n"
    "User-Agent: Mozilla/5.0 (X11; Linux x86_64; rv:128.0) Thunderbird/128.7.0\n"
    "\n";

const char* const words[] = {
    "the", "meeting", "we", "agreed", "that", "schedule", "for", "summer",
    "will", "move", "to", "Thursday", "evenings", "and", "a", "new", "room",
    "is", "booked", "in", "library", "please", "bring", "your", "boards",
    "clocks", "of", "club", "members", "who", "cannot", "attend", "should",
    "tell", "secretary", "before", "end", "month", "minutes", "attached",
    "below", "treasurer", "reported", "balance", "unchanged", "since", "last",
    "year", "tournament", "entries", "open", "on", "first", "Monday", "April",
};

void append_line(std::string& out, seeded_random& random) {
  unsigned kind = static_cast<unsigned>(random.below(1000));
  if (kind < 60) {  // paragraph break
    out += '\n';
    return;
  }
  if (kind < 80) out += '.';  // a line a careless writer began with a stop
  else if (kind < 180) out += "> ";
  std::size_t width = 20 + random.below(57);
  std::size_t start = out.size();
  for (bool first = true; out.size() - start < width; first = false) {
    if (!first) out += ' ';
    out += words[random.below(std::size(words))];
  }
  out += random.chance(150) ? ".\n" : "\n";
}

}  // namespace

int main(int argc, char** argv) {
  char* end = nullptr;
  unsigned long long seed = argc == 4 ? std::strtoull(argv[1], &end, 10) : 0;
  bool seed_ok = end && !*end;
  unsigned long long bytes = argc == 4 ? std::strtoull(argv[2], &end, 10) : 0;
  if (argc != 4 || !seed_ok || *end) {
    std::fputs("usage: bench_make_post SEED BYTES POST_FILE\n", stderr);
    return EX_USAGE;
  }
  std::FILE* post = std::fopen(argv[3], "w");
  if (!post) {
    std::fprintf(stderr, "bench_make_post: can't create %s\n", argv[3]);
    return EX_CANTCREAT;
  }
  if (bytes < sizeof header) bytes = sizeof header;
  seeded_random random{seed};
  std::string out = header;
  unsigned long long written = 0;
  constexpr std::size_t flush_bytes = 1 << 20;
  for (;;) {
    append_line(out, random);
    if (written + out.size() >= bytes) {
      // Cut the last line short so the post ends exactly at the size, in LF.
      if (bytes - written <= out.size()) {
        out.resize(bytes - written);
        out.back() = '\n';
      }
      break;
    }
    if (out.size() >= flush_bytes) {
      written += std::fwrite(out.data(), 1, out.size(), post);
      out.clear();
    }
  }
  std::fwrite(out.data(), 1, out.size(), post);
  if (std::fclose(post) != 0) {
    std::fprintf(stderr, "bench_make_post: can't write %s\n", argv[3]);
    return EX_CANTCREAT;
  }
  return 0;
}
