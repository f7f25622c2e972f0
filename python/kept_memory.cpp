#include "python/kept_memory.h"

#include <algorithm>
#include <mutex>

#include "analysis/memory_budget.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace qvd::python {
namespace {

#if defined(__GLIBC__)
// glibc refuses an mmap threshold above half its largest thread heap (64 MiB).
constexpr int kLargestMmapThreshold = 32 << 20;
// Setting either threshold stops glibc from adapting them itself, which
// takes the trim threshold up to twice the largest mmap threshold: never
// keep less than that.
constexpr double kLeastTrimThreshold = 2.0 * kLargestMmapThreshold;

std::mutex &threshold_lock() {
  static std::mutex lock;
  return lock;
}
double kept_bytes = 0;  // the trim threshold set so far, 0 before the first
#endif

}  // namespace

void keep_freed_memory(double analysis_bytes) {
#if defined(__GLIBC__)
  // An eighth of the physical memory: the default budget is half of it.
  const double ceiling = static_cast<double>(analysis::default_memory_budget()) / 4;
  const double wanted = std::max(kLeastTrimThreshold, std::min(2 * analysis_bytes, ceiling));
  const std::lock_guard<std::mutex> hold(threshold_lock());
  if (kept_bytes == 0) mallopt(M_MMAP_THRESHOLD, kLargestMmapThreshold);
  if (wanted <= kept_bytes) return;
  kept_bytes = wanted;
  mallopt(M_TRIM_THRESHOLD, static_cast<int>(std::min(wanted, 2147483647.0)));
#else
  (void)analysis_bytes;
#endif
}

void release_freed_memory() {
#if defined(__GLIBC__)
  malloc_trim(0);
#endif
}

}  // namespace qvd::python
