#include "platform/raise_exception.h"

#include <atomic>

#ifdef _WIN32
#include <windows.h>
#else
#include <csignal>
#endif

namespace qvd {
namespace {

// Recorded by the host before it calls anything else, like the services
// pointer; read on every raise, from whichever thread raises. The context
// is stored before the handler and read after it, so a raise that sees the
// handler also sees the context recorded with it (or a later one).
std::atomic<FaultHandler> g_handler{nullptr};
std::atomic<void *> g_handler_context{nullptr};

}  // namespace

void raise_exception(std::uint32_t code) {
#ifdef _WIN32
  (void)g_handler;
  (void)g_handler_context;
  RaiseException(code, 0, 0, nullptr);
#else
  const FaultHandler handler = g_handler.load(std::memory_order_acquire);
  if (handler != nullptr) {
    handler(code, g_handler_context.load(std::memory_order_relaxed));
    return;
  }
  std::raise(SIGFPE);
#endif
}

void set_fault_handler(FaultHandler handler, void *context) {
  g_handler_context.store(context, std::memory_order_relaxed);
  g_handler.store(handler, std::memory_order_release);
}

}  // namespace qvd
