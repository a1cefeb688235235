#include "submit/dot_stuffing.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Every version the processor runs must find what the bytewise one finds,
// wherever the line feed and the stop fall against its 16- and 64-byte
// rounds, and wherever the scan starts (the byte before the start counts).
TEST(dot_stuffing, every_scanner_finds_what_the_bytewise_one_finds) {
  const line_start_stop_scanner reference = line_start_stop_scanners[0].scan;
  for (std::size_t i = 0; i < line_start_stop_scanner_count; ++i) {
    const named_scanner& scanner = line_start_stop_scanners[i];
    if (!scanner.usable) continue;
    for (std::size_t size : {1, 15, 16, 17, 63, 64, 65, 130, 200}) {
      for (std::size_t line_feed = 0; line_feed < size; ++line_feed) {
        // ".\n" decoys: a stop before a line feed, and stops on their own.
        std::string text(size + 1, 'x');
        for (std::size_t k = 3; k < text.size(); k += 29) text[k] = '.';
        text[line_feed] = '\n';
        if (line_feed + 1 < text.size()) text[line_feed + 1] = '.';
        for (std::size_t start : {1, 2, 33}) {
          if (start > size) continue;
          const char* from = text.data() + start;
          const char* end = text.data() + size;
          EXPECT_EQ(reference(from, end) - text.data(), scanner.scan(from, end) - text.data())
              << scanner.name << ": " << size << " bytes, LF at " << line_feed
              << ", scan from " << start;
        }
      }
    }
  }
}

}  // namespace
