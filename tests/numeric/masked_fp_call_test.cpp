// Tests of the masked library call: the kernel runs with every exception
// masked, its recorded faults come back as at most one exception chosen
// overflow first, then division by zero, then invalid operation, and the
// host's trap setting is restored afterwards. Exercised through the BLAS
// update of the cross-product accumulation and through small kernels.
#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <cstdint>
#include <limits>
#include <vector>

#include "matrix/cross_products.h"
#include "platform/fp_control.h"
#include "numeric/fault_codes.h"
#include "numeric/masked_fp_call.h"
#include "support/fault_recorder.h"
#include "support/fp_exceptions.h"

namespace qvd {
namespace {

using Codes = std::vector<std::uint32_t>;

constexpr unsigned kRoundingField = 0x6000;
constexpr unsigned kRoundTowardZero = 0x6000;

// A BLAS update whose first lane overflows and whose second is
// inf - inf: both flags are recorded, only the overflow is raised.
TEST(MaskedFpCall, DaxpyOverflowAndInvalidRaisesOnlyOverflow) {
  testing::TrapSetting traps;
  testing::FaultRecorder recorder;
  const double inf = std::numeric_limits<double>::infinity();
  const double x[4] = {10.0, inf, 1.0, 2.0};
  double y[4] = {0.0, -inf, 0.0, 0.0};
  scaled_add(y, x, 4, 1e308);
  EXPECT_EQ(recorder.codes(), Codes{kFaultOverflow});
  EXPECT_EQ(read_mxcsr() & kMxcsrMaskField, 0x1900u);
  EXPECT_EQ(y[0], inf);
  EXPECT_TRUE(std::isnan(y[1]));
  EXPECT_EQ(y[2], 1e308);
}

// Each fault alone, and every pair, through a small kernel; the register's
// mask field is the trap setting afterwards in every case.
TEST(MaskedFpCall, PriorityOfRecordedFaults) {
  struct Case {
    const char *name;
    void (*kernel)();
    Codes expected;
  };
  const Case cases[] = {
      {"nothing", testing::exact, {}},
      {"inexact, underflow and subnormal only",
       [] { testing::underflow(); testing::inexact(); }, {}},
      {"divide by zero", testing::divide_by_zero, {kFaultDivideByZero}},
      {"invalid", testing::invalid_operation, {kFaultInvalidOperation}},
      {"overflow", testing::overflow, {kFaultOverflow}},
      {"divide by zero and invalid",
       [] { testing::invalid_operation(); testing::divide_by_zero(); },
       {kFaultDivideByZero}},
      {"overflow and divide by zero",
       [] { testing::divide_by_zero(); testing::overflow(); },
       {kFaultOverflow}},
      {"all three",
       [] {
         testing::invalid_operation();
         testing::divide_by_zero();
         testing::overflow();
       },
       {kFaultOverflow}},
  };
  for (const Case &c : cases) {
    testing::TrapSetting traps;
    testing::FaultRecorder recorder;
    masked_fp_call(c.kernel);
    EXPECT_EQ(recorder.codes(), c.expected) << c.name;
    EXPECT_EQ(read_mxcsr() & kMxcsrMaskField, kMxcsrTrapMasks) << c.name;
  }
}

// Inside the kernel the whole register is the masked setting, with the
// flags left by earlier work cleared; a rounding mode the kernel sets
// survives the call, as do the status flags it recorded.
TEST(MaskedFpCall, KernelSeesTheMaskedSettingAndItsChangesStay) {
  testing::TrapSetting traps;
  testing::FaultRecorder recorder;
  // Leave a stale flag behind under the trap setting (inexact is masked).
  testing::inexact();
  ASSERT_NE(read_mxcsr() & kMxcsrFlagBits, 0u);
  unsigned inside = 0;
  masked_fp_call([&] {
    inside = read_mxcsr();
    write_mxcsr(read_mxcsr() | kRoundTowardZero);
    testing::divide_by_zero();
  });
  EXPECT_EQ(inside, kMxcsrMaskedSetting);
  EXPECT_EQ(recorder.codes(), Codes{kFaultDivideByZero});
  const unsigned after = read_mxcsr();
  EXPECT_EQ(after & kMxcsrMaskField, kMxcsrTrapMasks);
  EXPECT_EQ(after & kRoundingField, kRoundTowardZero);
  EXPECT_NE(after & kMxcsrDivideByZeroFlag, 0u);
}

// The direct updates of length 1 and 2 are not wrapped: their faults are
// ordinary traps under the host's setting. The library lengths report a
// fault-free call as nothing at all.
TEST(MaskedFpCall, FaultFreeLibraryCallRaisesNothing) {
  testing::TrapSetting traps;
  testing::FaultRecorder recorder;
  const double x[5] = {1.0, 2.0, 3.0, 4.0, 5.0};
  double y[5] = {0.5, 0.5, 0.5, 0.5, 0.5};
  scaled_add(y, x, 5, 1.0 / 3.0);
  EXPECT_TRUE(recorder.codes().empty());
  EXPECT_EQ(read_mxcsr() & kMxcsrMaskField, kMxcsrTrapMasks);
}

// Unhandled faults end a POSIX process with SIGFPE; on Windows an unhandled
// structured exception ends it instead, which these death tests do not cover.
#if !defined(_WIN32)
// Statements run in the child of the death tests.
void unhandled_masked_fault() {
  testing::TrapSetting traps;
  masked_fp_call(testing::divide_by_zero);
}

void unhandled_library_overflow() {
  testing::TrapSetting traps;
  const double x[3] = {1e308, 1e308, 1e308};
  double y[3] = {1e308, 1e308, 1e308};
  scaled_add(y, x, 3, 10.0);
}

void short_update_overflow_with_handler() {
  testing::TrapSetting traps;
  testing::FaultRecorder recorder;
  const double x[2] = {1e308, 1e308};
  double y[2] = {0.0, 0.0};
  scaled_add(y, x, 2, 10.0);
}

// With no handler installed a raised fault is SIGFPE, as an unhandled
// floating-point exception is to a POSIX process.
TEST(MaskedFpCallDeathTest, UnhandledFaultIsSigfpe) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(unhandled_masked_fault(), ::testing::KilledBySignal(SIGFPE), "");
  EXPECT_EXIT(unhandled_library_overflow(), ::testing::KilledBySignal(SIGFPE),
              "");
}

// A length-2 update is plain arithmetic: its overflow traps in the
// processor itself, even with a resuming handler installed.
TEST(MaskedFpCallDeathTest, ShortUpdateIsNotWrapped) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(short_update_overflow_with_handler(),
              ::testing::KilledBySignal(SIGFPE), "");
}

#endif
}  // namespace
}  // namespace qvd
