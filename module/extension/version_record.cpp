#include "extension/version_record.h"

#include <string_view>

namespace qvd {
namespace {

constexpr const char kRelease[] = "1.0.0.1M0P04242019";  // version, level, MMDDYYYY
constexpr const char kSourceLabel[] = "/qvdep/main:/qvdep/release-1.0";
constexpr const char kHostComponent[] = "qvhost";
constexpr const char kComponentCode[] = "QVD01";
constexpr const char kHostComponent2[] = "qvhost2";
constexpr const char kBuildTag[] = "qvdep-1.0.0-b000001";
constexpr const char kHotfix[] =
    "QRM_VERSION_HOTFIX_NUMBER=                                       ";
constexpr const char kImageDescription[] =
    "RELCAT_IMAGE_DESCRIPTION=                                        ";
constexpr const char kPlatformCode[] = "X64_W";
constexpr const char kBuildTimeText[] = "Wed Apr 24 19:15:04 UTC 2019";

static_assert(std::string_view(kRelease).size() == 18);
static_assert(std::string_view(kBuildTag).size() == 19);
static_assert(std::string_view(kHotfix).size() == 65);
static_assert(std::string_view(kImageDescription).size() == 65);
static_assert(std::string_view(kComponentCode).size() == 5);
static_assert(std::string_view(kPlatformCode).size() == 5);

// The record is constant data, laid out by the compiler: no code runs to
// build it when the library is loaded, and nothing ever writes it.
constexpr VersionSlot text(const char *s) { return VersionSlot{.text = s}; }

constexpr VersionSlot number(std::int64_t n) { return VersionSlot{.number = n}; }

constinit const VersionRecord kRecord = {{
    text(kRelease), text(kSourceLabel), text(""), number(kBuildTime),
    text(kHostComponent), text(kComponentCode), text(kHostComponent2),
    text(kBuildTag), text(""), text("version"), text("::"), text(""),
    text(kHotfix), text(""), text(kImageDescription), text(kPlatformCode),
    text(kBuildTimeText),
    // Slots 17 to 25 are null.
}};

}  // namespace

const VersionRecord &version_record() { return kRecord; }

}  // namespace qvd
