#include "extension/descriptor.h"

#include <cstring>

#include "extension/host_services.h"
#include "extension/instance.h"

namespace qvd {
namespace {

std::int32_t interface_version(ExtensionDescriptor *, std::uint64_t *a,
                               std::uint64_t *b, std::uint64_t *c) {
  *a = 5;
  *b = 1;
  *c = 1;
  return 0;
}

std::int32_t module_version(ExtensionDescriptor *, std::uint64_t *a,
                            std::uint64_t *b, std::uint64_t *c) {
  *a = 1;
  *b = 0;
  *c = 0;
  return 0;
}

// The descriptor lives in its pool; destroying the pool frees it.
std::int32_t release(ExtensionDescriptor *self) {
  HostPool *pool = self->pool;
  pool->destroy(pool);
  return 0;
}

}  // namespace

ExtensionDescriptor *create_descriptor(void *context) {
  HostPool *pool = nullptr;
  void *block = create_record_in_own_pool(context, sizeof(ExtensionDescriptor), &pool);
  if (block == nullptr) return nullptr;
  // Only the named fields are stored; the reserved bytes keep whatever the
  // host's allocation holds.
  auto *d = static_cast<ExtensionDescriptor *>(block);
  d->interface_version = &interface_version;
  d->module_version = &module_version;
  d->release = &release;
  d->pool = pool;
  std::memcpy(d->description, kDescription, QVDEP_DESCRIPTION_LENGTH);
  d->create_instance = &create_instance;
  return d;
}

}  // namespace qvd
