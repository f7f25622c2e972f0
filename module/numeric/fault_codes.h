// Codes of the floating-point faults the module raises into the host. Every
// fault is raised continuable and without arguments. The first four are the
// system's own floating-point exception codes on Windows.
#ifndef QVDEP_NUMERIC_FAULT_CODES_H
#define QVDEP_NUMERIC_FAULT_CODES_H

#include <cstdint>

#include "qvdep.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace qvd {

inline constexpr std::uint32_t kFaultOverflow = QVDEP_EXCEPTION_FLT_OVERFLOW;
inline constexpr std::uint32_t kFaultDivideByZero = QVDEP_EXCEPTION_FLT_DIVIDE_BY_ZERO;
inline constexpr std::uint32_t kFaultInvalidOperation = QVDEP_EXCEPTION_FLT_INVALID_OPERATION;
// Raised only for the logarithm of a negative number.
inline constexpr std::uint32_t kFaultNegativeLogarithm = QVDEP_EXCEPTION_FLT_UNDERFLOW;
// The module's own: a negative base with a non-integral or huge exponent.
inline constexpr std::uint32_t kFaultDomainError = QVDEP_EXCEPTION_DOMAIN_ERROR;

#ifdef _WIN32
static_assert(kFaultOverflow == static_cast<std::uint32_t>(EXCEPTION_FLT_OVERFLOW));
static_assert(kFaultDivideByZero == static_cast<std::uint32_t>(EXCEPTION_FLT_DIVIDE_BY_ZERO));
static_assert(kFaultInvalidOperation ==
              static_cast<std::uint32_t>(EXCEPTION_FLT_INVALID_OPERATION));
static_assert(kFaultNegativeLogarithm == static_cast<std::uint32_t>(EXCEPTION_FLT_UNDERFLOW));
#endif

}  // namespace qvd

#endif
