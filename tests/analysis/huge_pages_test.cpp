// Blocks advised onto huge pages are backed by them, as the kernel's own
// account of the process's mappings (/proc/self/smaps) tells, wherever
// transparent huge pages are enabled at all.
#include "host/huge_pages.h"

#include <cstdint>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace qvd::host {
namespace {

std::string text_of(const char *path) {
  std::ifstream in(path);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// kB of the mapping holding `address` that sit on huge pages.
long huge_kb_around(const void *address) {
  const std::uintptr_t a = reinterpret_cast<std::uintptr_t>(address);
  std::istringstream smaps(text_of("/proc/self/smaps"));
  bool inside = false;
  for (std::string line; std::getline(smaps, line);) {
    std::uintptr_t from = 0, to = 0;
    char dash = 0;
    std::istringstream range(line);
    if (range >> std::hex >> from >> dash >> to && dash == '-') {
      inside = from <= a && a < to;
    } else if (inside && line.rfind("AnonHugePages:", 0) == 0) {
      return std::stol(line.substr(14));
    }
  }
  return -1;
}

TEST(HugePages, AdvisedBlocksSitOnHugePages) {
  const std::string mode = text_of("/sys/kernel/mm/transparent_hugepage/enabled");
  if (mode.empty() || mode.find("[never]") != std::string::npos)
    GTEST_SKIP() << "transparent huge pages are not enabled here";
  for (const std::size_t megabytes : {5, 24}) {
    std::vector<double> block;
    reserve_on_huge_pages(block, megabytes << 17);  // 8-byte elements
    block.assign(megabytes << 17, 1.0);
    // Every whole 2 MB page inside the block: at least megabytes - 4 MB of it.
    EXPECT_GE(huge_kb_around(block.data() + block.size() / 2), long(megabytes - 4) * 1024)
        << megabytes << " MB";
  }
}

}  // namespace
}  // namespace qvd::host
