#include "extension/host_services.h"

namespace qvd {
namespace {

// Written by the host's registration call before any other call, and only
// read afterwards.
HostServices *g_services = nullptr;

}  // namespace

HostServices *host_services() { return g_services; }

void record_host_services(HostServices *services) { g_services = services; }

HostPool *create_module_pool(void *context) {
  const PoolParams params{};
  return g_services->create_pool(g_services, &params, context, kPoolName);
}

}  // namespace qvd
