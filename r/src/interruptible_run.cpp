#include "interruptible_run.h"

#include <Rcpp.h>  // R's API by its Rf_ names only (R_NO_REMAP)

#include <atomic>
#include <chrono>
#include <future>
#include <thread>
#include <utility>

namespace qvd::r {
namespace {

// How often R's thread looks for an interrupt: Ctrl-C is answered within
// this plus the time to the analysis's next check.
constexpr std::chrono::milliseconds kSlice{50};

void check_interrupt(void *) { R_CheckUserInterrupt(); }

}  // namespace

bool interrupt_pending() {
  // R_CheckUserInterrupt jumps to the top level on an interrupt; inside
  // R_ToplevelExec that jump ends the call, which then returns FALSE.
  return R_ToplevelExec(check_interrupt, nullptr) == FALSE;
}

RunOutcome run_interruptibly(
    const std::function<analysis::Result(const analysis::StopFlag &)> &analysis) {
  std::atomic<bool> stop{false};
  std::packaged_task<analysis::Result()> task(
      [&] { return analysis(analysis::StopFlag(&stop)); });
  std::future<analysis::Result> done = task.get_future();
  RunOutcome outcome;
  std::thread worker(std::move(task));
  while (done.wait_for(kSlice) != std::future_status::ready) {
    if (interrupt_pending()) {
      outcome.interrupted = true;
      stop.store(true, std::memory_order_relaxed);
      break;
    }
  }
  worker.join();
  try {
    outcome.result = done.get();  // rethrows what the analysis threw
  } catch (...) {
    outcome.error = std::current_exception();
  }
  return outcome;
}

}  // namespace qvd::r
