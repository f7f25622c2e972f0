// Test instances: each owns a pool (which holds the instance itself and all
// its work buffers), a locale handle and a journal.
#ifndef QVDEP_EXTENSION_INSTANCE_H
#define QVDEP_EXTENSION_INSTANCE_H

#include "qvdep.h"

namespace qvd {

inline constexpr char kJournalName[] = "qvdepJnl";
inline constexpr std::uint64_t kJournalCapacity = 1024000;

// A new instance, or null: a failed pool, allocation or journal leaves no
// pool of the instance alive.
TestInstance *create_instance(void *context);

// Closes the journal (if any) and destroys the pool, which frees the
// instance. A null instance is ignored.
void destroy_instance(TestInstance *instance);

}  // namespace qvd

#endif
