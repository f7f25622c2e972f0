// Codes of the floating-point faults the module raises into the host. Every
// fault is raised continuable and without arguments.
#ifndef QVDEP_PROB_FAULT_CODES_H
#define QVDEP_PROB_FAULT_CODES_H

#include <cstdint>

#include "qvdep.h"

#ifdef _WIN32
#include <windows.h>  // EXCEPTION_FLT_* are the system's own codes there
#endif

namespace qvd {

#ifndef _WIN32
inline constexpr std::uint32_t EXCEPTION_FLT_OVERFLOW = QVDEP_EXCEPTION_FLT_OVERFLOW;
inline constexpr std::uint32_t EXCEPTION_FLT_DIVIDE_BY_ZERO = QVDEP_EXCEPTION_FLT_DIVIDE_BY_ZERO;
inline constexpr std::uint32_t EXCEPTION_FLT_INVALID_OPERATION = QVDEP_EXCEPTION_FLT_INVALID_OPERATION;
// Raised only for the logarithm of a negative number.
inline constexpr std::uint32_t EXCEPTION_FLT_UNDERFLOW = QVDEP_EXCEPTION_FLT_UNDERFLOW;
#endif
// The module's own: a negative base with a non-integral or huge exponent.
inline constexpr std::uint32_t EXCEPTION_DOMAIN_ERROR = QVDEP_EXCEPTION_DOMAIN_ERROR;

}  // namespace qvd

#endif
