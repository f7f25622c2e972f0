// The host's service table as recorded by qvextent or qvextver: the one
// piece of module-wide state besides the processor feature level.
#ifndef QVDEP_EXTENSION_HOST_SERVICES_H
#define QVDEP_EXTENSION_HOST_SERVICES_H

#include "qvdep.h"

namespace qvd {

HostServices *host_services();
void record_host_services(HostServices *services);

// "qvdep pool": every pool the module makes carries this name.
inline constexpr char kPoolName[] = "qvdep pool";

// A fresh pool of the host, or null.
HostPool *create_module_pool(void *context);

}  // namespace qvd

#endif
