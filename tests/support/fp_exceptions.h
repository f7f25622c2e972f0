// Floating-point exceptions raised on purpose, one arithmetic operation
// each, on operands the compiler cannot fold away (volatile): what a test
// makes the processor do to see a trap, a recorded flag or a masked fault.
// Under the host's trap setting the first three trap; underflow and
// inexact stay masked.
#ifndef QVDEP_TESTS_SUPPORT_FP_EXCEPTIONS_H
#define QVDEP_TESTS_SUPPORT_FP_EXCEPTIONS_H

#include <cstdint>
#if !defined(_WIN32)
#include <csignal>
#endif

#include "qvdep.h"

namespace qvd::testing {

namespace operand {
inline volatile double zero = 0.0, one = 1.0, huge = 1e308, tiny = 1e-300;
inline volatile double sink = 0.0;
}  // namespace operand

inline void divide_by_zero() { operand::sink = operand::one / operand::zero; }
inline void invalid_operation() { operand::sink = operand::zero / operand::zero; }
inline void overflow() { operand::sink = operand::huge * operand::huge; }
// Underflow to zero, with inexact.
inline void underflow() { operand::sink = operand::tiny * operand::tiny; }
inline void inexact() { operand::sink = operand::one / 3.0; }
// Exact arithmetic: no exception at all.
inline void exact() { operand::sink = operand::one + operand::one; }

// The three that trap, with the code each is reported by.
struct TrappingOperation {
  const char *what;
  void (*run)();
  // Its structured exception's code, which is also the module's fault code.
  std::uint32_t exception;
  // What a trapped call reports: the si_code of the SIGFPE on POSIX, the
  // structured exception's code on Windows.
  int signal_code;
};

#if defined(_WIN32)
#define QVDEP_TRAP_CODE(exception, si_code) static_cast<int>(exception)
#else
#define QVDEP_TRAP_CODE(exception, si_code) si_code
#endif
inline const TrappingOperation kTrappingOperations[] = {
    {"division by zero", divide_by_zero, QVDEP_EXCEPTION_FLT_DIVIDE_BY_ZERO,
     QVDEP_TRAP_CODE(QVDEP_EXCEPTION_FLT_DIVIDE_BY_ZERO, FPE_FLTDIV)},
    {"invalid operation", invalid_operation, QVDEP_EXCEPTION_FLT_INVALID_OPERATION,
     QVDEP_TRAP_CODE(QVDEP_EXCEPTION_FLT_INVALID_OPERATION, FPE_FLTINV)},
    {"overflow", overflow, QVDEP_EXCEPTION_FLT_OVERFLOW,
     QVDEP_TRAP_CODE(QVDEP_EXCEPTION_FLT_OVERFLOW, FPE_FLTOVF)},
};
#undef QVDEP_TRAP_CODE

}  // namespace qvd::testing

#endif
