#include "host/guarded_call.h"

#include <csetjmp>
#include <csignal>
#include <mutex>

#include "qvdep.h"

namespace qvd::host {
namespace {

thread_local sigjmp_buf *g_escape = nullptr;
thread_local volatile sig_atomic_t g_signal_code = 0;

// The disposition of a signal belongs to the whole process, while guarded
// calls run on any number of threads at once. The handler is installed when
// the first guarded call begins and the previous disposition comes back when
// the last one ends; a trap is synchronous, so it arrives on the thread that
// caused it and that thread's escape is the one taken.
std::mutex g_install_mutex;
int g_guarded_calls = 0;
struct sigaction g_previous_action {};

void on_sigfpe(int, siginfo_t *info, void *) {
  if (g_escape == nullptr) {
    // A thread outside any guarded call: end the process as the default
    // disposition would.
    signal(SIGFPE, SIG_DFL);
    raise(SIGFPE);
    return;
  }
  g_signal_code = info != nullptr ? info->si_code : 0;
  siglongjmp(*g_escape, 1);
}

void install_handler() {
  const std::lock_guard<std::mutex> lock(g_install_mutex);
  if (g_guarded_calls++ > 0) return;
  struct sigaction action {};
  action.sa_sigaction = &on_sigfpe;
  action.sa_flags = SA_SIGINFO | SA_NODEFER;
  sigemptyset(&action.sa_mask);
  sigaction(SIGFPE, &action, &g_previous_action);
}

void remove_handler() {
  const std::lock_guard<std::mutex> lock(g_install_mutex);
  if (--g_guarded_calls > 0) return;
  sigaction(SIGFPE, &g_previous_action, nullptr);
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
  install_handler();
  const unsigned saved_mxcsr = qvdep_enter_trap_setting();

  CallOutcome outcome;
  g_signal_code = 0;
  outcome.trapped = run_with_escape(call);
  outcome.signal_code = g_signal_code;

  qvdep_leave_trap_setting(saved_mxcsr);
  remove_handler();
  return outcome;
}

}  // namespace qvd::host
