// The x86-64 SSE control and status register (MXCSR), reached through the
// compiler's intrinsics.
//
// Bits 0..5 are the sticky exception flags, bits 7..12 the matching masks
// (a set mask bit means "do not trap"), bits 13..14 the rounding field and
// bits 6 and 15 denormals-are-zero and flush-to-zero.
#ifndef QVDEP_PLATFORM_FP_CONTROL_H
#define QVDEP_PLATFORM_FP_CONTROL_H

#include <xmmintrin.h>

#include "qvdep.h"

namespace qvd {

inline constexpr unsigned kMxcsrInvalidFlag = 0x0001;
inline constexpr unsigned kMxcsrDivideByZeroFlag = 0x0004;
inline constexpr unsigned kMxcsrOverflowFlag = 0x0008;
inline constexpr unsigned kMxcsrFlagBits = 0x003F;
inline constexpr unsigned kMxcsrMaskField = QVDEP_MXCSR_MASK_FIELD;

// The host's trap setting: invalid operation, division by zero and overflow
// trap; denormal, underflow and inexact are masked.
inline constexpr unsigned kMxcsrTrapMasks = QVDEP_MXCSR_TRAP_SETTING;

// Everything masked, no flag set, round to nearest, no flushing. A vectorised
// library kernel runs under this whole-register value.
inline constexpr unsigned kMxcsrMaskedSetting = 0x1F80;

inline unsigned read_mxcsr() { return _mm_getcsr(); }
inline void write_mxcsr(unsigned value) { _mm_setcsr(value); }

}  // namespace qvd

#endif
