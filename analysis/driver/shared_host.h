// One reference host per module for the whole process. The module keeps the
// host's service table and fault handler in module-wide state, so two hosts
// of one loaded module would take each other's pool requests and faults;
// every run of the analysis library, on any thread, goes through the one
// host of its module, each on its own test instance.
//
// The host is made on first use and lives until the process ends: it is
// never destroyed, so a thread still inside a run while the process exits
// never meets a destroyed host. No other host may load the same module in
// the process while this one serves it.
#ifndef QVDEP_ANALYSIS_DRIVER_SHARED_HOST_H
#define QVDEP_ANALYSIS_DRIVER_SHARED_HOST_H

#include <string>

#include "host/reference_host.h"

namespace qvd::analysis {

// The host of the module at `module_path` (as resolved by the caller).
// Paths naming one file (relative, through links) share the host. Throws
// ModuleError when the module cannot be loaded; a later call tries again.
host::ReferenceHost &shared_host(const std::string &module_path);

}  // namespace qvd::analysis

#endif
