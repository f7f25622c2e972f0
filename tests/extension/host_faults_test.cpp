// The reference host calls the module under the trap setting and survives
// its faults: a hardware trap becomes a failed call, and the caller's
// floating-point environment is back afterwards.
#include <bit>
#include <cmath>
#include <csignal>
#include <limits>
#include <random>

#include <gtest/gtest.h>

#include "host/dependence_run.h"
#include "host/guarded_call.h"
#include "platform/fp_control.h"
#include "support/fp_exceptions.h"

namespace qvd::host {
namespace {

TEST(GuardedCall, TrapBecomesFailedCallAndEnvironmentIsRestored) {
  const unsigned before = read_mxcsr();
  for (const testing::TrappingOperation &op : testing::kTrappingOperations) {
    SCOPED_TRACE(op.what);
    const CallOutcome outcome = call_under_traps(op.run);
    EXPECT_TRUE(outcome.trapped);
    EXPECT_EQ(outcome.signal_code, op.signal_code);
    EXPECT_FALSE(outcome.describe().empty());
    EXPECT_EQ(read_mxcsr(), before);
  }
  // Underflow and inexact stay masked under the trap setting.
  EXPECT_FALSE(call_under_traps(testing::underflow).trapped);
  EXPECT_FALSE(call_under_traps(testing::inexact).trapped);
#if !defined(_WIN32)
  // A raise with no handler installed reaches the host as SIGFPE too.
  EXPECT_TRUE(call_under_traps([&] { std::raise(SIGFPE); }).trapped);
  EXPECT_EQ(read_mxcsr(), before);
#endif
}

Panel random_panel(int n, int t, int k, unsigned seed) {
  std::mt19937_64 rng(seed);
  std::normal_distribution<double> normal;
  Panel p{n, t, k, std::vector<double>(static_cast<std::size_t>(n) * t * (k + 1))};
  for (double &v : p.values) v = normal(rng);
  return p;
}

// Values that are not numbers but not the missing pattern either are not
// data the module can fit: the call must end in a reported fault, and the
// host must carry on as before.
TEST(HostFaults, NonFiniteDataEndsInAReportedFault) {
  ReferenceHost host(QVDEP_MODULE_PATH);
  // The test's own arithmetic sets status flags; the control bits must be
  // exactly the caller's.
  const unsigned before = read_mxcsr() & ~kMxcsrFlagBits;
  const double values[] = {std::numeric_limits<double>::quiet_NaN(),
                           std::numeric_limits<double>::infinity(),
                           -std::numeric_limits<double>::infinity()};
  for (double bad : values) {
    // Regressor values and dependent values, first and last section.
    for (std::size_t at : {0u, 2u, 7u, 29u, 40u, 71u}) {
      Panel panel = random_panel(4, 6, 2, 11);
      panel.values[at] = bad;
      const TestResults r = run_dependence_test(host, panel, {});
      EXPECT_FALSE(r.ok() && r.faults.empty()) << bad << " at " << at;
      EXPECT_EQ(read_mxcsr() & ~kMxcsrFlagBits, before);
    }
  }
  const TestResults clean = run_dependence_test(host, random_panel(4, 6, 2, 11), {});
  EXPECT_TRUE(clean.ok());
  EXPECT_TRUE(clean.faults.empty());
}

}  // namespace
}  // namespace qvd::host
