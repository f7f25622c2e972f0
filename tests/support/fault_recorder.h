// Test helpers for the floating-point environment.
#ifndef QVDEP_TESTS_SUPPORT_FAULT_RECORDER_H
#define QVDEP_TESTS_SUPPORT_FAULT_RECORDER_H

#include <cstdint>
#include <vector>

namespace qvd::testing {

// The codes a FaultRecorder holds when nothing was raised.
inline const std::vector<std::uint32_t> kNoFaults;

// Puts the control register in the host's trap setting (invalid operation,
// division by zero and overflow unmasked, clean flags, round to nearest)
// for its lifetime and restores the caller's register afterwards.
class TrapSetting {
 public:
  TrapSetting();
  ~TrapSetting();
  TrapSetting(const TrapSetting &) = delete;
  TrapSetting &operator=(const TrapSetting &) = delete;

 private:
  unsigned saved_;
};

// Installs a module fault handler that records every raised code and
// resumes; removes it again on destruction.
class FaultRecorder {
 public:
  FaultRecorder();
  ~FaultRecorder();
  FaultRecorder(const FaultRecorder &) = delete;
  FaultRecorder &operator=(const FaultRecorder &) = delete;

  const std::vector<std::uint32_t> &codes() const { return codes_; }
  void clear() { codes_.clear(); }

 private:
  static void record(std::uint32_t code, void *self);
  std::vector<std::uint32_t> codes_;
#if defined(_WIN32)
 public:
  static void deliver(std::uint32_t code, FaultRecorder *recorder);

 private:
  void *handle_ = nullptr;  // the vectored exception handler
#endif
};

}  // namespace qvd::testing

#endif
