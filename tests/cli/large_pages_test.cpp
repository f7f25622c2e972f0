// The tool's operator new and delete, linked into this program as into the
// tool: blocks of every size, from a byte to beyond the mapped threshold,
// at every alignment the language lets a type ask for, each filled and
// checked while others live, freed in random order; and the failure
// contract (std::bad_alloc, or null for the nothrow forms).
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <random>
#include <vector>

#include <gtest/gtest.h>

namespace {

struct Live {
  unsigned char *block;
  std::size_t bytes, alignment;
  unsigned char mark;
};

TEST(LargePages, BlocksOfEverySizeAndAlignmentHoldTheirBytes) {
  std::mt19937_64 rng(71);
  std::vector<Live> live;
  // Checks that no other block wrote over this one, then frees it by the
  // sized or the unsized form of delete.
  auto check_and_free = [](const Live &l, bool sized) {
    EXPECT_TRUE(std::all_of(l.block, l.block + l.bytes, [&](unsigned char c) { return c == l.mark; }));
    if (l.alignment > __STDCPP_DEFAULT_NEW_ALIGNMENT__)
      ::operator delete(l.block, std::align_val_t{l.alignment});
    else if (sized)
      ::operator delete(l.block, l.bytes);
    else
      ::operator delete(l.block);
  };
  for (int round = 0; round < 300; ++round) {
    // Every 25th block is large: from just below the bound of 1 MB (with its
    // header) at which blocks get mappings of their own, to 13 MB.
    constexpr std::size_t kMegabyte = std::size_t{1} << 20;
    const std::size_t bytes = round % 25 == 0 ? kMegabyte - 4096 + rng() % (12 * kMegabyte)
                                              : rng() % (std::size_t{1} << (rng() % 20));
    const std::size_t alignment = std::size_t{1} << (3 + rng() % 10);  // 8 to 4096
    const unsigned char mark = static_cast<unsigned char>(round);
    auto *block = static_cast<unsigned char *>(
        alignment > __STDCPP_DEFAULT_NEW_ALIGNMENT__ ? ::operator new(bytes, std::align_val_t{alignment})
                                                     : ::operator new(bytes));
    ASSERT_EQ(reinterpret_cast<std::uintptr_t>(block) % alignment, 0u) << bytes << " " << alignment;
    std::memset(block, mark, bytes);
    live.push_back({block, bytes, alignment, mark});
    if (rng() % 3 == 0) {  // free one at random
      std::swap(live[rng() % live.size()], live.back());
      check_and_free(live.back(), true);
      live.pop_back();
    }
  }
  for (const Live &l : live) check_and_free(l, false);
}

TEST(LargePages, ImpossibleRequestsFailAsTheLanguageSays) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "sanitizer builds keep the sanitizer's allocator, which ends the program instead";
#endif
  const std::size_t impossible = SIZE_MAX / 2;
  EXPECT_THROW(static_cast<void>(::operator new(impossible)), std::bad_alloc);
  EXPECT_EQ(::operator new(impossible, std::nothrow), nullptr);
  EXPECT_EQ(::operator new[](impossible, std::align_val_t{256}, std::nothrow), nullptr);
  // The new-handler is called, and the request fails once it is gone.
  std::set_new_handler([] { std::set_new_handler(nullptr); });
  EXPECT_THROW(static_cast<void>(::operator new(impossible)), std::bad_alloc);
  EXPECT_EQ(std::get_new_handler(), nullptr);
}

}  // namespace
