// The extension descriptor: version queries, the instance factory and its
// own pool, which releasing the descriptor destroys.
#ifndef QVDEP_EXTENSION_DESCRIPTOR_H
#define QVDEP_EXTENSION_DESCRIPTOR_H

#include "qvdep.h"

namespace qvd {

inline constexpr char kDescription[QVDEP_DESCRIPTION_LENGTH + 1] =
    "QRM/PLX Panel Unit Root Test";
static_assert(sizeof(kDescription) == QVDEP_DESCRIPTION_LENGTH + 1);

// A new descriptor in a new pool, or null (any pool made is destroyed).
ExtensionDescriptor *create_descriptor(void *context);

}  // namespace qvd

#endif
