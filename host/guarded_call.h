// Calling into the module the way a host does: under the host's trap
// setting (invalid operation, division by zero and overflow unmasked), with
// a hardware floating-point trap turned into a failed call instead of the
// end of the process.
#ifndef QVDEP_HOST_GUARDED_CALL_H
#define QVDEP_HOST_GUARDED_CALL_H

#include <functional>
#include <string>

namespace qvd::host {

struct CallOutcome {
  bool trapped = false;  // a SIGFPE ended the call early
  int signal_code = 0;   // its si_code (FPE_FLTINV, FPE_FLTDIV, ...)

  std::string describe() const;  // "" when the call completed
};

// Runs `call` with MXCSR in the trap setting and a SIGFPE handler that
// abandons the call; afterwards the caller's MXCSR is restored, and the
// SIGFPE disposition once no other thread is inside a guarded call. A call abandoned this way may leave module work unfinished
// (buffers stay in their pool, results unwritten).
CallOutcome call_under_traps(const std::function<void()> &call);

}  // namespace qvd::host

#endif
