// An analysis run so that Ctrl-C in R stops it: the analysis runs on a
// thread of its own while R's thread waits for it in slices of 50 ms,
// looking for a pending interrupt between them (R notices Ctrl-C only when
// its own thread asks). On an interrupt the analysis is asked to stop
// (StopFlag): it stops at its next check, between its stages, bands and
// chunks of pairs (the module's own run, a fraction of a second at 2,000
// cross-sections, is waited for). The thread has always ended when the
// call returns: nothing of the run outlives it.
//
// R's interrupt is looked for inside R_ToplevelExec, so that it cannot
// jump out of this C++ code; the caller raises it again in R once every
// C++ object of the call is gone.
#ifndef QVDEP_R_INTERRUPTIBLE_RUN_H
#define QVDEP_R_INTERRUPTIBLE_RUN_H

#include <exception>
#include <functional>
#include <optional>

#include "analysis/common/stop_flag.h"
#include "analysis/result/result.h"

namespace qvd::r {

struct RunOutcome {
  std::optional<analysis::Result> result;  // when the analysis ended with one
  std::exception_ptr error;                // what it threw otherwise
  bool interrupted = false;                // R was interrupted meanwhile
};

// Runs `analysis` (which must not touch R) with a flag that an interrupt
// sets. Any exception it throws comes back in the outcome.
RunOutcome run_interruptibly(
    const std::function<analysis::Result(const analysis::StopFlag &)> &analysis);

// Whether R has an interrupt pending (the user's Ctrl-C), which this
// consumes. Only on R's thread.
bool interrupt_pending();

}  // namespace qvd::r

#endif
