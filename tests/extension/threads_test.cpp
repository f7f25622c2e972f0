// The module starts no threads: the process has as many threads after
// loading the module and running a request (with enough regressors for the
// BLAS updates) as it had before loading it.
#include <dirent.h>

#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "host/dependence_run.h"
#include "host/reference_host.h"

namespace qvd::host {
namespace {

// Entries of /proc/self/task, one per thread of the process.
int thread_count() {
  DIR *dir = opendir("/proc/self/task");
  if (dir == nullptr) return -1;
  int count = 0;
  while (const dirent *entry = readdir(dir))
    if (entry->d_name[0] != '.') ++count;
  closedir(dir);
  return count;
}

TEST(ModuleThreads, LoadingAndRunningStartsNoThread) {
  const int before = thread_count();
  ASSERT_GT(before, 0);
  ReferenceHost host(QVDEP_MODULE_PATH);
  EXPECT_EQ(thread_count(), before) << "after loading the module";
  Panel panel{300, 40, 6, std::vector<double>(300 * 40 * 7)};
  std::mt19937_64 rng(3);
  std::normal_distribution<double> normal;
  for (double &v : panel.values) v = normal(rng);
  const TestResults r = run_dependence_test(host, panel, {});
  ASSERT_TRUE(r.ok()) << r.error();
  EXPECT_EQ(thread_count(), before) << "after a run";
}

}  // namespace
}  // namespace qvd::host
