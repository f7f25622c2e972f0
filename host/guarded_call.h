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
  bool trapped = false;  // a hardware floating-point trap hit the call
  // What the system said of the trap: the SIGFPE's si_code (FPE_FLTINV,
  // FPE_FLTDIV, ...) on POSIX systems, the structured exception's code
  // (EXCEPTION_FLT_INVALID_OPERATION, ...) on Windows.
  int signal_code = 0;

  std::string describe() const;  // "" when the call completed
};

// Runs `call` with MXCSR in the trap setting and afterwards restores the
// caller's MXCSR. On POSIX systems a SIGFPE handler abandons the call (its
// disposition comes back once no other thread is inside a guarded call), so
// a trapped call may leave module work unfinished: buffers stay in their
// pool, results unwritten. On Windows a vectored handler masks the trap and
// lets the call run to its end (guarded_call_windows.cpp).
CallOutcome call_under_traps(const std::function<void()> &call);

}  // namespace qvd::host

#endif
