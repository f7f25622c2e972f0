// Windows only: where the host delivers the faults the module raises as
// structured exceptions.
//
// On Windows the module raises each of its own floating-point faults (the
// QVDEP_EXCEPTION_* codes) with RaiseException, continuable and without
// arguments, and the DLL exports no qvdep_set_exception_handler. The
// vectored exception handler that call_under_traps installs for a call hands
// each such code to the handler registered here and resumes the module after
// the raise. On POSIX systems the module calls the handler registered with
// its own qvdep_set_exception_handler instead, to the same effect; the
// host's ModuleEntryPoints::set_exception_handler is whichever of the two
// the system has. Hardware traps are not handed here: they make the call a
// trapped one (guarded_call.h).
#ifndef QVDEP_HOST_STRUCTURED_FAULT_HANDLER_H
#define QVDEP_HOST_STRUCTURED_FAULT_HANDLER_H

#include <cstdint>

#include "qvdep.h"

namespace qvd::host {

// The handler is process-wide and called on the thread that raised the
// code. Null: raised codes are resumed without being recorded.
void set_structured_fault_handler(QvdepExceptionHandler handler, void *context);

}  // namespace qvd::host

#endif
