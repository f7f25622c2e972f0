// Calling into the module on Windows under the host's trap setting.
//
// Two kinds of floating-point exception reach the vectored handler installed
// for the duration of the call, told apart by their argument count:
//
// - A fault the module raises itself comes from RaiseException with no
//   arguments. Its code goes to the registered fault handler and the module
//   resumes after the raise (EXCEPTION_CONTINUE_EXECUTION), as the host's own
//   handler would let it.
// - A hardware trap of an SSE instruction carries two arguments (the second is
//   MXCSR). Resuming as it stands would execute the faulting instruction
//   again and trap for ever, so the handler sets every mask bit in the
//   faulting context's MXCSR: the instruction then completes with its masked
//   (IEEE default) result, the call runs to its end and is reported as
//   trapped with the first trap's code. No stack is unwound and no work of
//   the module is abandoned half way.
//
// Whatever happened, the caller's MXCSR is written back after the call.
#include <windows.h>

#include <cstdint>

#include "host/guarded_call.h"
#include "host/structured_fault_handler.h"
#include "qvdep.h"

namespace qvd::host {
namespace {

constexpr DWORD kStatusFloatMultipleFaults = 0xC00002B4;
constexpr DWORD kStatusFloatMultipleTraps = 0xC00002B5;
constexpr DWORD kModuleDomainError = QVDEP_EXCEPTION_DOMAIN_ERROR;

// Registered once by the host; read by whichever thread is in a call.
QvdepExceptionHandler g_fault_handler = nullptr;
void *g_fault_context = nullptr;

struct CallState {
  bool active = false;
  bool trapped = false;
  DWORD code = 0;
};
thread_local CallState g_call;

bool is_floating_point_code(DWORD code) {
  return (code >= EXCEPTION_FLT_DENORMAL_OPERAND && code <= EXCEPTION_FLT_UNDERFLOW) ||
         code == kStatusFloatMultipleFaults || code == kStatusFloatMultipleTraps ||
         code == kModuleDomainError;
}

LONG CALLBACK on_exception(EXCEPTION_POINTERS *pointers) {
  const EXCEPTION_RECORD *record = pointers->ExceptionRecord;
  if (!g_call.active || !is_floating_point_code(record->ExceptionCode))
    return EXCEPTION_CONTINUE_SEARCH;
  if (record->NumberParameters == 0) {  // raised by the module
    if (g_fault_handler != nullptr)
      g_fault_handler(static_cast<std::uint32_t>(record->ExceptionCode), g_fault_context);
    return EXCEPTION_CONTINUE_EXECUTION;
  }
  if (!g_call.trapped) {
    g_call.trapped = true;
    g_call.code = record->ExceptionCode;
  }
  // The register is restored from the saved FXSAVE image; keep the
  // context's copy in step with it.
  CONTEXT *context = pointers->ContextRecord;
  context->MxCsr |= QVDEP_MXCSR_MASK_FIELD;
  context->FltSave.MxCsr |= QVDEP_MXCSR_MASK_FIELD;
  return EXCEPTION_CONTINUE_EXECUTION;
}

}  // namespace

void set_structured_fault_handler(QvdepExceptionHandler handler, void *context) {
  g_fault_handler = handler;
  g_fault_context = context;
}

std::string CallOutcome::describe() const {
  if (!trapped) return "";
  switch (static_cast<DWORD>(signal_code)) {
    case EXCEPTION_FLT_INVALID_OPERATION: return "floating-point trap: invalid operation";
    case EXCEPTION_FLT_DIVIDE_BY_ZERO: return "floating-point trap: division by zero";
    case EXCEPTION_FLT_OVERFLOW: return "floating-point trap: overflow";
    case EXCEPTION_FLT_UNDERFLOW: return "floating-point trap: underflow";
    case EXCEPTION_FLT_INEXACT_RESULT: return "floating-point trap: inexact result";
    default: return "floating-point trap (structured exception)";
  }
}

CallOutcome call_under_traps(const std::function<void()> &call) {
  const CallState outer = g_call;
  g_call = CallState{true, false, 0};
  PVOID handler = AddVectoredExceptionHandler(1, &on_exception);
  const unsigned saved_mxcsr = qvdep_enter_trap_setting();

  call();

  qvdep_leave_trap_setting(saved_mxcsr);
  RemoveVectoredExceptionHandler(handler);
  CallOutcome outcome;
  outcome.trapped = g_call.trapped;
  outcome.signal_code = static_cast<int>(g_call.code);
  g_call = outer;
  return outcome;
}

}  // namespace qvd::host
