// The module's exported entry points.
#include <cstring>

#include "extension/descriptor.h"
#include "extension/host_services.h"
#include "extension/version_record.h"
#include "platform/raise_exception.h"
#include "qvdep.h"

extern "C" {

QVDEP_EXPORT std::int32_t qvextent(HostServices *services) {
  qvd::record_host_services(services);
  return 0;
}

QVDEP_EXPORT std::int32_t qvextver(HostServices *services, std::uint64_t *major,
                                   std::uint64_t *minor) {
  *major = 5;
  *minor = 1;
  qvd::record_host_services(services);
  return 0;
}

// The first argument is not used; context is passed on to the host untouched.
QVDEP_EXPORT ExtensionDescriptor *qvdep(void *, void *context) {
  return qvd::create_descriptor(context);
}

QVDEP_EXPORT std::int32_t qvrelct1(void *buffer) {
  std::memcpy(buffer, &qvd::version_record(), sizeof(VersionRecord));
  return 0;
}

#if !defined(_WIN32)
QVDEP_EXPORT void qvdep_set_exception_handler(QvdepExceptionHandler handler,
                                              void *context) {
  qvd::set_fault_handler(handler, context);
}
#endif

}  // extern "C"
