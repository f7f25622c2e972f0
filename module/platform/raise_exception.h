// Raising a floating-point fault into the host.
//
// On Windows this is RaiseException(code, 0, 0, nullptr): continuable, no
// arguments. Elsewhere the code goes to the handler the host installed with
// qvdep_set_exception_handler(); when the handler returns, execution goes on
// after the raise as it does after a continued structured exception. With no
// handler installed, SIGFPE is raised in the calling thread, the way an
// unhandled floating-point fault reaches a POSIX process.
#ifndef QVDEP_PLATFORM_RAISE_EXCEPTION_H
#define QVDEP_PLATFORM_RAISE_EXCEPTION_H

#include <cstdint>

namespace qvd {

void raise_exception(std::uint32_t code);

// Where raised codes go on systems without structured exceptions; null
// restores the default (SIGFPE).
using FaultHandler = void (*)(std::uint32_t code, void *context);
void set_fault_handler(FaultHandler handler, void *context);

}  // namespace qvd

#endif
