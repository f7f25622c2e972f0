#include "support/fault_recorder.h"

#if defined(_WIN32)
#include <windows.h>

#include "qvdep.h"
#endif

#include "platform/fp_control.h"
#include "platform/raise_exception.h"

namespace qvd::testing {

TrapSetting::TrapSetting() : saved_(read_mxcsr()) {
  write_mxcsr(kMxcsrTrapMasks);
}

TrapSetting::~TrapSetting() { write_mxcsr(saved_); }

#if defined(_WIN32)
// On Windows the module raises structured exceptions: a vectored handler
// records those raised without arguments (RaiseException of the module; a
// hardware trap carries arguments and is left to crash the test) and
// resumes after the raise.
namespace {

FaultRecorder *g_recorder = nullptr;

bool is_module_code(DWORD code) {
  return code == QVDEP_EXCEPTION_FLT_DIVIDE_BY_ZERO ||
         code == QVDEP_EXCEPTION_FLT_INVALID_OPERATION ||
         code == QVDEP_EXCEPTION_FLT_OVERFLOW || code == QVDEP_EXCEPTION_FLT_UNDERFLOW ||
         code == QVDEP_EXCEPTION_DOMAIN_ERROR;
}

LONG CALLBACK on_exception(EXCEPTION_POINTERS *pointers) {
  const EXCEPTION_RECORD *record = pointers->ExceptionRecord;
  if (g_recorder == nullptr || record->NumberParameters != 0 ||
      !is_module_code(record->ExceptionCode))
    return EXCEPTION_CONTINUE_SEARCH;
  FaultRecorder::deliver(record->ExceptionCode, g_recorder);
  return EXCEPTION_CONTINUE_EXECUTION;
}

}  // namespace

FaultRecorder::FaultRecorder() {
  g_recorder = this;
  handle_ = AddVectoredExceptionHandler(1, &on_exception);
}

FaultRecorder::~FaultRecorder() {
  RemoveVectoredExceptionHandler(handle_);
  g_recorder = nullptr;
}

void FaultRecorder::deliver(std::uint32_t code, FaultRecorder *recorder) {
  record(code, recorder);
}
#else
FaultRecorder::FaultRecorder() {
  set_fault_handler(&FaultRecorder::record, this);
}

FaultRecorder::~FaultRecorder() { set_fault_handler(nullptr, nullptr); }
#endif

void FaultRecorder::record(std::uint32_t code, void *self) {
  static_cast<FaultRecorder *>(self)->codes_.push_back(code);
}

}  // namespace qvd::testing
