#include "numeric/masked_fp_call.h"

#include "platform/raise_exception.h"
#include "numeric/fault_codes.h"

namespace qvd {

void raise_recorded_fault_and_restore_traps() {
  const unsigned status = read_mxcsr();
  if (status & kMxcsrOverflowFlag) {
    raise_exception(kFaultOverflow);
  } else if (status & kMxcsrDivideByZeroFlag) {
    raise_exception(kFaultDivideByZero);
  } else if (status & kMxcsrInvalidFlag) {
    raise_exception(kFaultInvalidOperation);
  }
  // Read again: a resumed handler may have touched the register.
  const unsigned now = read_mxcsr();
  write_mxcsr((now & ~kMxcsrMaskField) | kMxcsrTrapMasks);
}

}  // namespace qvd
