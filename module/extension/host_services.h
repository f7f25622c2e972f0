// The host's service table as recorded by qvextent or qvextver. It is
// module-wide state, as are the fault handler the host installs with
// qvdep_set_exception_handler (platform/raise_exception.h) and the processor
// feature level: one host serves a loaded module.
#ifndef QVDEP_EXTENSION_HOST_SERVICES_H
#define QVDEP_EXTENSION_HOST_SERVICES_H

#include <cstdint>

#include "qvdep.h"

namespace qvd {

HostServices *host_services();
void record_host_services(HostServices *services);

// "qvdep pool": every pool the module makes carries this name.
inline constexpr char kPoolName[] = "qvdep pool";

// A fresh pool of the host, or null.
HostPool *create_module_pool(void *context);

// A record of `size` bytes as the first block of a fresh pool of its own,
// which goes to *pool; null (and the pool destroyed again) when the host
// refuses either.
void *create_record_in_own_pool(void *context, std::uint64_t size, HostPool **pool);

}  // namespace qvd

#endif
