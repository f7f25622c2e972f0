// Calling into the module the way a host does: under the host's trap
// setting (qvdep.h: invalid operation, division by zero and overflow
// unmasked), with a hardware floating-point trap turned into a failed call
// instead of the end of the process.
//
// Two kinds of floating-point fault meet such a call:
//  - the faults the module raises itself (the QVDEP_EXCEPTION_* codes), after
//    which it resumes. On POSIX systems the module hands each code to the
//    handler registered with qvdep_set_exception_handler (with none it
//    raises SIGFPE, which ends the call as a trap would). On Windows it
//    raises a continuable structured exception with that code; the vectored
//    handler call_under_traps installs hands the code to the handler of
//    set_structured_fault_handler (structured_fault_handler.h) and resumes.
//    ModuleEntryPoints::set_exception_handler names whichever applies.
//  - a hardware trap of an SSE instruction: SIGFPE on POSIX systems, a
//    structured exception with an EXCEPTION_FLT_* code on Windows. It makes
//    the call a trapped one (below).
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
// caller's MXCSR. On POSIX systems a SIGFPE handler abandons the call at the
// trap (the signal's previous disposition comes back once no other thread is
// inside a guarded call), so a trapped call may leave module work
// unfinished: buffers stay in their pool, results unwritten. On Windows the
// vectored handler masks the trap in the faulting context and lets the call
// run to its end with masked results, reporting the first trap's code
// (guarded_call_windows.cpp).
CallOutcome call_under_traps(const std::function<void()> &call);

}  // namespace qvd::host

#endif
