#include "platform/raise_exception.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <csignal>
#endif

namespace qvd {
namespace {

// Recorded by the host before it calls anything else, like the services
// pointer; read on every raise.
FaultHandler g_handler = nullptr;
void *g_handler_context = nullptr;

}  // namespace

void raise_exception(std::uint32_t code) {
#ifdef _WIN32
  (void)g_handler;
  (void)g_handler_context;
  RaiseException(code, 0, 0, nullptr);
#else
  if (g_handler != nullptr) {
    g_handler(code, g_handler_context);
    return;
  }
  std::raise(SIGFPE);
#endif
}

void set_fault_handler(FaultHandler handler, void *context) {
  g_handler = handler;
  g_handler_context = context;
}

}  // namespace qvd
