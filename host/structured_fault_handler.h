// Where a Windows host delivers the structured exceptions the module raises.
//
// The module raises every floating-point fault with RaiseException (no
// arguments, continuable). The vectored exception handler that
// call_under_traps installs hands each such code to the handler registered
// here and resumes the module after the raise, which is what the handler of
// qvdep_set_exception_handler does on other systems.
#ifndef QVDEP_HOST_STRUCTURED_FAULT_HANDLER_H
#define QVDEP_HOST_STRUCTURED_FAULT_HANDLER_H

#include <cstdint>

#include "qvdep.h"

namespace qvd::host {

// Null handler: raised codes are resumed without being recorded.
void set_structured_fault_handler(QvdepExceptionHandler handler, void *context);

}  // namespace qvd::host

#endif
