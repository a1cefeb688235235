#include "recipients/big_block.h"

#include <sys/mman.h>
#include <sysexits.h>

#include <cstdlib>

#include "driver/fatal.h"

namespace {

constexpr std::size_t huge_page_bytes = 1 << 21;
constexpr std::size_t cache_line_bytes = 64;

}  // namespace

void* big_block(std::size_t bytes) {
  bool huge = bytes >= huge_page_bytes;
  std::size_t alignment = huge ? huge_page_bytes : cache_line_bytes;
  // aligned_alloc wants a multiple of the alignment.
  std::size_t rounded = (bytes + alignment - 1) / alignment * alignment;
  if (rounded < bytes) fatal(EX_TEMPFAIL, "out of memory\n");
  void* block = std::aligned_alloc(alignment, rounded ? rounded : alignment);
  if (!block) fatal(EX_TEMPFAIL, "out of memory\n");
  if (huge) madvise(block, rounded, MADV_HUGEPAGE);
  return block;
}
