// The static build-identification record copied out by qvrelct1.
#ifndef QVDEP_EXTENSION_VERSION_RECORD_H
#define QVDEP_EXTENSION_VERSION_RECORD_H

#include "qvdep.h"

namespace qvd {

inline constexpr std::int64_t kBuildTime = 1556133304;  // 2019-04-24 19:15:04 UTC

const VersionRecord &version_record();

}  // namespace qvd

#endif
