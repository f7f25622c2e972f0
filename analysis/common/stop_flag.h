// A caller's request to stop an analysis before its end, as an interrupt
// in an interpreter asks: another thread sets the flag, and the analysis
// looks at it between its stages, a few bands or chunks of pairs at a time,
// and throws Interrupted there. The module's own run is not interrupted
// (a fraction of a second at 2,000 cross-sections; seconds at 10,000).
#ifndef QVDEP_ANALYSIS_COMMON_STOP_FLAG_H
#define QVDEP_ANALYSIS_COMMON_STOP_FLAG_H

#include <atomic>

#include "analysis/common/errors.h"

namespace qvd::analysis {

class StopFlag {
 public:
  StopFlag() = default;  // never stops
  explicit StopFlag(const std::atomic<bool> *flag) : flag_(flag) {}

  // Throws Interrupted once the flag is set.
  void check() const {
    if (flag_ != nullptr && flag_->load(std::memory_order_relaxed))
      throw Interrupted("the analysis was interrupted");
  }

 private:
  const std::atomic<bool> *flag_ = nullptr;
};

}  // namespace qvd::analysis

#endif
