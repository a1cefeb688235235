// big_block.h - memory for the large tables, asked for huge pages.
//   big_block(bytes)  `bytes` of uninitialized memory (free with std::free),
//                     aligned to a huge page when at least that large and
//                     advised to use them; exits EX_TEMPFAIL "out of
//                     memory\n"
// The tables are read and written in no order; with 4 KiB pages nearly
// every such access misses the TLB as well as the cache. Where the system
// gives no huge pages the block works all the same.
#pragma once

#include <cstddef>

void* big_block(std::size_t bytes);
