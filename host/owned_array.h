// An array in one block of the program's operator new, owned by whoever
// holds it: the host grants the module its blocks that way, so a block the
// module leaves behind (the correlations) or gives back (the residuals)
// can be handed to the caller as it lies, without a copy. At 10,000
// cross-sections the correlations alone are 400 MB.
//
//   qvd::host::OwnedArray<double> a(n);     // n values, uninitialised
//   a[i] = 1.0;  a.size();  a.data();
#ifndef QVDEP_HOST_OWNED_ARRAY_H
#define QVDEP_HOST_OWNED_ARRAY_H

#include <algorithm>
#include <cstddef>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>

namespace qvd::host {

template <typename T>
class OwnedArray {
  static_assert(std::is_trivially_copyable_v<T> && alignof(T) <= __STDCPP_DEFAULT_NEW_ALIGNMENT__);

 public:
  OwnedArray() = default;
  // `size` values, not initialised. Throws std::bad_alloc.
  explicit OwnedArray(std::size_t size)
      : data_(size == 0 ? nullptr : static_cast<T *>(::operator new(size * sizeof(T)))),
        size_(size) {}
  // Takes `block`, a block of `size` values from the program's operator new.
  static OwnedArray adopt(T *block, std::size_t size) {
    OwnedArray a;
    a.data_.reset(block);
    a.size_ = size;
    return a;
  }
  static OwnedArray copy_of(const T *values, std::size_t size) {
    OwnedArray a(size);
    std::copy_n(values, size, a.data());
    return a;
  }
  // Copies are whole copies, as a vector's are; moves hand the block on.
  OwnedArray(const OwnedArray &other) : OwnedArray(copy_of(other.data(), other.size())) {}
  OwnedArray &operator=(const OwnedArray &other) {
    if (this != &other) *this = copy_of(other.data(), other.size());
    return *this;
  }
  OwnedArray(OwnedArray &&other) noexcept
      : data_(std::move(other.data_)), size_(std::exchange(other.size_, 0)) {}
  OwnedArray &operator=(OwnedArray &&other) noexcept {
    data_ = std::move(other.data_);
    size_ = std::exchange(other.size_, 0);
    return *this;
  }

  T *data() { return data_.get(); }
  const T *data() const { return data_.get(); }
  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  T &operator[](std::size_t i) { return data_.get()[i]; }
  const T &operator[](std::size_t i) const { return data_.get()[i]; }
  // Equal values, element by element, as vectors compare.
  friend bool operator==(const OwnedArray &a, const OwnedArray &b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end());
  }

  T *begin() { return data(); }
  T *end() { return data() + size_; }
  const T *begin() const { return data(); }
  const T *end() const { return data() + size_; }

 private:
  struct Release {
    void operator()(T *block) const { ::operator delete(block); }
  };
  std::unique_ptr<T, Release> data_;
  std::size_t size_ = 0;
};

}  // namespace qvd::host

#endif
