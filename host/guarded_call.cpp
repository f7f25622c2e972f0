#include "host/guarded_call.h"

#include <csetjmp>
#include <csignal>

#include "platform/fp_control.h"

namespace qvd::host {
namespace {

thread_local sigjmp_buf *g_escape = nullptr;
thread_local volatile sig_atomic_t g_signal_code = 0;

void on_sigfpe(int, siginfo_t *info, void *) {
  g_signal_code = info != nullptr ? info->si_code : 0;
  siglongjmp(*g_escape, 1);
}

// The setjmp frame stays small and free of objects with destructors.
bool run_with_escape(const std::function<void()> &call) {
  sigjmp_buf escape;
  sigjmp_buf *outer = g_escape;
  g_escape = &escape;
  if (sigsetjmp(escape, 1) != 0) {
    g_escape = outer;
    return true;
  }
  call();
  g_escape = outer;
  return false;
}

}  // namespace

std::string CallOutcome::describe() const {
  if (!trapped) return "";
  switch (signal_code) {
    case FPE_FLTINV: return "floating-point trap: invalid operation";
    case FPE_FLTDIV: return "floating-point trap: division by zero";
    case FPE_FLTOVF: return "floating-point trap: overflow";
    case FPE_FLTUND: return "floating-point trap: underflow";
    case FPE_FLTRES: return "floating-point trap: inexact result";
    default: return "floating-point fault (SIGFPE) without a handler";
  }
}

CallOutcome call_under_traps(const std::function<void()> &call) {
  struct sigaction action {};
  action.sa_sigaction = &on_sigfpe;
  action.sa_flags = SA_SIGINFO | SA_NODEFER;
  sigemptyset(&action.sa_mask);
  struct sigaction previous {};
  sigaction(SIGFPE, &action, &previous);
  const unsigned saved_mxcsr = read_mxcsr();
  write_mxcsr(kMxcsrTrapMasks);

  CallOutcome outcome;
  g_signal_code = 0;
  outcome.trapped = run_with_escape(call);
  outcome.signal_code = g_signal_code;

  write_mxcsr(saved_mxcsr);
  sigaction(SIGFPE, &previous, nullptr);
  return outcome;
}

}  // namespace qvd::host
