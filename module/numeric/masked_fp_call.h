// Running a vectorised library kernel under the masked floating-point
// setting.
//
// A library kernel (the BLAS) is free to compute in any order and may
// produce faults in lanes whose results are discarded, so it must not run
// under the host's trap setting. Instead it runs with every exception
// masked and clean status flags; afterwards the faults it recorded are
// raised as one exception, the most serious first: overflow, then division
// by zero, then invalid operation. The trap setting is put back whether or
// not the exception was resumed.
#ifndef QVDEP_NUMERIC_MASKED_FP_CALL_H
#define QVDEP_NUMERIC_MASKED_FP_CALL_H

#include <utility>

#include "platform/fp_control.h"

namespace qvd {

// The end of a masked call: raise the recorded fault, if any, then
// restore the trap masks (flags, rounding and flush bits kept as they are).
void raise_recorded_fault_and_restore_traps();

template <class Kernel>
void masked_fp_call(Kernel &&kernel) {
  write_mxcsr(kMxcsrMaskedSetting);
  std::forward<Kernel>(kernel)();
  raise_recorded_fault_and_restore_traps();
}

}  // namespace qvd

#endif
