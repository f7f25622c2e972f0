#include "support/fault_recorder.h"

#include "platform/fp_control.h"
#include "platform/raise_exception.h"

namespace qvd::testing {

TrapSetting::TrapSetting() : saved_(read_mxcsr()) {
  write_mxcsr(kMxcsrTrapMasks);
}

TrapSetting::~TrapSetting() { write_mxcsr(saved_); }

FaultRecorder::FaultRecorder() {
  set_fault_handler(&FaultRecorder::record, this);
}

FaultRecorder::~FaultRecorder() { set_fault_handler(nullptr, nullptr); }

void FaultRecorder::record(std::uint32_t code, void *self) {
  static_cast<FaultRecorder *>(self)->codes_.push_back(code);
}

}  // namespace qvd::testing
