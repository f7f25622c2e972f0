// Huge pages for the tool's large allocations.
//
// A run on 2,000 cross-sections of 250 periods touches some 190 MB of fresh
// memory (the columns read, the dense panel, the module's buffers, the
// N-by-N matrices). On 4 kB pages that is about 48,000 page faults, which
// took a quarter of the tool's time on a virtual machine. The program
// therefore replaces the global operator new and delete: a block of 1 MB or
// more gets an anonymous mapping of its own, a whole number of 2 MB pages,
// and the kernel is asked to back it with transparent huge pages (madvise
// MADV_HUGEPAGE, honoured where they are enabled as "madvise" or "always";
// elsewhere the request is ignored and the block is ordinary memory).
// Smaller blocks come from aligned_alloc.
//
// The bound is low because that panel's blocks between 1 and 4 MB are many:
// nearly every column the reader fills (half a million rows of 8 bytes is
// just under 4 MB, and each part read on a thread of its own has columns of
// its own) and every N-by-T table of residuals. On 4 kB pages they took
// some 17,000 faults, half the reading time. Rounding a block up to whole
// 2 MB pages costs at most half of a block of just over 1 MB.
// Every block is preceded by a header of at least 64 bytes whose last 16 say
// how it was made, so that delete can tell the two kinds apart.
//
// Builds with a sanitizer keep the standard allocator, whose blocks the
// sanitizer tracks.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define QVDEP_STANDARD_ALLOCATOR 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || \
    __has_feature(memory_sanitizer)
#define QVDEP_STANDARD_ALLOCATOR 1
#endif
#endif

#if defined(__linux__) && !defined(QVDEP_STANDARD_ALLOCATOR)

#include <sys/mman.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

constexpr std::size_t kHeader = 64;                        // keeps blocks 64-byte aligned
constexpr std::size_t kLargeBlock = std::size_t{1} << 20;  // mapped from 1 MB on
constexpr std::size_t kHugePage = std::size_t{2} << 20;

// Stored in the 16 bytes just below the block.
struct Origin {
  void *base;          // what aligned_alloc or mmap returned
  std::size_t mapped;  // bytes mapped; 0 when from aligned_alloc
};
static_assert(sizeof(Origin) <= kHeader);

void *allocate(std::size_t bytes, std::size_t alignment) noexcept {
  const std::size_t header = std::max(kHeader, alignment);  // a power of two
  if (bytes > SIZE_MAX / 2 - header - kHugePage) return nullptr;
  const std::size_t total = bytes + header;
  Origin origin{nullptr, 0};
  if (total >= kLargeBlock) {
    const std::size_t mapped = (total + kHugePage - 1) / kHugePage * kHugePage;
    void *base = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (base == MAP_FAILED) return nullptr;
    madvise(base, mapped, MADV_HUGEPAGE);  // a hint: failure leaves ordinary pages
    origin = {base, mapped};
  } else {
    origin.base = std::aligned_alloc(header, (total + header - 1) / header * header);
    if (origin.base == nullptr) return nullptr;
  }
  unsigned char *block = static_cast<unsigned char *>(origin.base) + header;
  std::memcpy(block - sizeof origin, &origin, sizeof origin);
  return block;
}

void release(void *block) noexcept {
  if (block == nullptr) return;
  Origin origin;
  std::memcpy(&origin, static_cast<unsigned char *>(block) - sizeof origin, sizeof origin);
  if (origin.mapped != 0)
    munmap(origin.base, origin.mapped);
  else
    std::free(origin.base);
}

// operator new's contract: call the new-handler until the allocation
// succeeds, and throw std::bad_alloc when there is none.
void *allocate_or_throw(std::size_t bytes, std::size_t alignment) {
  for (;;) {
    if (void *block = allocate(bytes, alignment)) return block;
    const std::new_handler handler = std::get_new_handler();
    if (handler == nullptr) throw std::bad_alloc();
    handler();
  }
}

void *allocate_or_null(std::size_t bytes, std::size_t alignment) noexcept {
  try {
    return allocate_or_throw(bytes, alignment);
  } catch (...) {
    return nullptr;
  }
}

constexpr std::size_t kDefault = __STDCPP_DEFAULT_NEW_ALIGNMENT__;

}  // namespace

void *operator new(std::size_t n) { return allocate_or_throw(n, kDefault); }
void *operator new[](std::size_t n) { return allocate_or_throw(n, kDefault); }
void *operator new(std::size_t n, std::align_val_t a) {
  return allocate_or_throw(n, static_cast<std::size_t>(a));
}
void *operator new[](std::size_t n, std::align_val_t a) {
  return allocate_or_throw(n, static_cast<std::size_t>(a));
}
void *operator new(std::size_t n, const std::nothrow_t &) noexcept {
  return allocate_or_null(n, kDefault);
}
void *operator new[](std::size_t n, const std::nothrow_t &) noexcept {
  return allocate_or_null(n, kDefault);
}
void *operator new(std::size_t n, std::align_val_t a, const std::nothrow_t &) noexcept {
  return allocate_or_null(n, static_cast<std::size_t>(a));
}
void *operator new[](std::size_t n, std::align_val_t a, const std::nothrow_t &) noexcept {
  return allocate_or_null(n, static_cast<std::size_t>(a));
}

void operator delete(void *p) noexcept { release(p); }
void operator delete[](void *p) noexcept { release(p); }
void operator delete(void *p, std::size_t) noexcept { release(p); }
void operator delete[](void *p, std::size_t) noexcept { release(p); }
void operator delete(void *p, std::align_val_t) noexcept { release(p); }
void operator delete[](void *p, std::align_val_t) noexcept { release(p); }
void operator delete(void *p, std::size_t, std::align_val_t) noexcept { release(p); }
void operator delete[](void *p, std::size_t, std::align_val_t) noexcept { release(p); }
void operator delete(void *p, const std::nothrow_t &) noexcept { release(p); }
void operator delete[](void *p, const std::nothrow_t &) noexcept { release(p); }
void operator delete(void *p, std::align_val_t, const std::nothrow_t &) noexcept { release(p); }
void operator delete[](void *p, std::align_val_t, const std::nothrow_t &) noexcept { release(p); }

#endif
