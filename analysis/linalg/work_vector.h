// Work arrays for the tools' BLAS and LAPACK, aligned to 64 bytes.
//
// Their kernels may group the terms of a sum differently depending on
// where an array starts (peeling elements off until an aligned address),
// so the same call on an array that malloc placed elsewhere (on another
// thread, or in another process) can differ in the last bits. Every array
// the analysis hands to those libraries starts on a 64-byte boundary, which
// makes its figures the same wherever it runs.
#ifndef QVDEP_ANALYSIS_LINALG_WORK_VECTOR_H
#define QVDEP_ANALYSIS_LINALG_WORK_VECTOR_H

#include <cstddef>
#include <new>
#include <vector>

namespace qvd::analysis {

inline constexpr std::size_t kWorkAlignment = 64;

template <typename T>
struct WorkAllocator {
  using value_type = T;
  WorkAllocator() = default;
  template <typename U>
  constexpr WorkAllocator(const WorkAllocator<U> &) noexcept {}
  T *allocate(std::size_t n) {
    return static_cast<T *>(::operator new(n * sizeof(T), std::align_val_t{kWorkAlignment}));
  }
  void deallocate(T *p, std::size_t) noexcept {
    ::operator delete(p, std::align_val_t{kWorkAlignment});
  }
  friend bool operator==(const WorkAllocator &, const WorkAllocator &) { return true; }
};

template <typename T>
using WorkVector = std::vector<T, WorkAllocator<T>>;

}  // namespace qvd::analysis

#endif
