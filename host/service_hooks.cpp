#include "host/service_hooks.h"

namespace qvd::host {

bool ServiceHooks::create_pool(const HostPool *, const PoolParams &, void *, const char *) {
  return true;
}
bool ServiceHooks::alloc(const HostPool *, std::uint64_t, std::uint32_t) { return true; }
void ServiceHooks::block_granted(const HostPool *, void *, std::uint64_t, std::uint32_t) {}
void ServiceHooks::free(const HostPool *, const void *) {}
void ServiceHooks::destroy_pool(const HostPool *) {}
bool ServiceHooks::create_journal(const HostJournal *, const JournalParams &, void *,
                                  const char *) {
  return true;
}
void ServiceHooks::close_journal(const HostJournal *) {}
bool ServiceHooks::lookup_locale(const std::uint16_t *, std::int64_t) { return true; }

}  // namespace qvd::host
