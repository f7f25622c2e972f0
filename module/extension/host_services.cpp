#include "extension/host_services.h"

#include <atomic>

namespace qvd {
namespace {

// Written by the host's registration call before any other call, and only
// read afterwards. Atomic because a host may register from several threads
// at once, or run instances on threads other than the registering one: the
// release store publishes the table the host filled in before it
// registered, and every reader acquires it.
std::atomic<HostServices *> g_services{nullptr};

}  // namespace

HostServices *host_services() {
  return g_services.load(std::memory_order_acquire);
}

void record_host_services(HostServices *services) {
  g_services.store(services, std::memory_order_release);
}

HostPool *create_module_pool(void *context) {
  HostServices *const services = host_services();
  const PoolParams params{};
  return services->create_pool(services, &params, context, kPoolName);
}

void *create_record_in_own_pool(void *context, std::uint64_t size, HostPool **pool) {
  *pool = create_module_pool(context);
  if (*pool == nullptr) return nullptr;
  void *block = (*pool)->alloc(*pool, size, QVDEP_ALLOC_FLAGS);
  if (block == nullptr) (*pool)->destroy(*pool);
  return block;
}

}  // namespace qvd
