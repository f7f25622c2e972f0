#include "host/huge_pages.h"

#include <cstdint>

#ifdef __linux__
#include <sys/mman.h>
#endif

namespace qvd::host {

void advise_huge_pages(const void *block, std::size_t bytes) {
#ifdef __linux__
  if (block == nullptr || bytes < kHugePageBytes) return;
  const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(block);
  const std::uintptr_t first = (start + kHugePageBytes - 1) / kHugePageBytes * kHugePageBytes;
  const std::uintptr_t end = (start + bytes) / kHugePageBytes * kHugePageBytes;
  if (end > first)  // a hint: a refusal leaves ordinary pages
    madvise(reinterpret_cast<void *>(first), end - first, MADV_HUGEPAGE);
#else
  (void)block;
  (void)bytes;
#endif
}

}  // namespace qvd::host
