// The module's faults as a Windows host sees them: structured exceptions
// raised with RaiseException reach the host's vectored exception handler
// with the right code, one per fault in the order of priority, and the
// module resumes with the value the fault's definition gives. A hardware
// trap of the processor ends as a reported fault of its call, and the host
// goes on to run the next request as before.
#include <bit>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "host/dependence_run.h"
#include "host/guarded_call.h"
#include "host/structured_fault_handler.h"
#include "numeric/exp_guarded.h"
#include "numeric/fault_codes.h"
#include "numeric/masked_fp_call.h"
#include "numeric/math_library.h"
#include "numeric/pow_guarded.h"
#include "platform/fp_control.h"
#include "support/double_bits.h"
#include "support/fp_exceptions.h"

namespace qvd::host {
namespace {

using testing::bits;
using testing::kInf;

void record(std::uint32_t code, void *codes) {
  static_cast<std::vector<std::uint32_t> *>(codes)->push_back(code);
}

// A masked kernel that records the given faults in the status flags.
std::function<double()> masked_kernel(bool overflow, bool divide, bool invalid) {
  return [=] {
    masked_fp_call([&] {
      if (invalid) testing::invalid_operation();
      if (divide) testing::divide_by_zero();
      if (overflow) testing::overflow();
    });
    return 0.0;
  };
}

TEST(StructuredExceptions, ReachTheVectoredHandlerAndResume) {
  struct Case {
    const char *what;
    std::function<double()> body;
    std::vector<std::uint32_t> codes;
    double resumed;  // the value the module goes on with
  };
  const Case cases[] = {
      // Beyond the range exp_guarded overflows twice: in its scaling and
      // once more on the resumed infinity (as on Linux).
      {"exp_guarded overflow", [] { return exp_guarded(1000.0); },
       {kFaultOverflow, kFaultOverflow}, kInf},
      {"pow_guarded domain error", [] { return pow_guarded(-2.0, 3e9); },
       {kFaultDomainError}, std::numeric_limits<double>::max()},
      {"log of zero", [] { return lib_log(0.0); }, {kFaultDivideByZero}, -kInf},
      {"log of a negative number", [] { return lib_log(-1.0); }, {kFaultNegativeLogarithm},
       std::numeric_limits<double>::quiet_NaN()},
      {"ldexp overflow", [] { return lib_ldexp(1.5, 1024); }, {kFaultOverflow}, kInf},
      {"masked: overflow before the rest", masked_kernel(true, true, true),
       {kFaultOverflow}, 0.0},
      {"masked: division by zero before invalid", masked_kernel(false, true, true),
       {kFaultDivideByZero}, 0.0},
      {"masked: invalid alone", masked_kernel(false, false, true),
       {kFaultInvalidOperation}, 0.0},
      {"masked: nothing recorded", masked_kernel(false, false, false), {}, 0.0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::uint32_t> codes;
    set_structured_fault_handler(&record, &codes);
    double result = 0.0;
    unsigned mxcsr_inside = 0;
    const CallOutcome outcome = call_under_traps([&] {
      result = c.body();
      mxcsr_inside = read_mxcsr();
    });
    set_structured_fault_handler(nullptr, nullptr);
    EXPECT_FALSE(outcome.trapped) << outcome.describe();
    EXPECT_EQ(codes, c.codes);
    if (std::isnan(c.resumed))
      EXPECT_TRUE(std::isnan(result));
    else
      EXPECT_EQ(bits(result), bits(c.resumed));
    // Resumed, the module is back in the host's trap setting.
    EXPECT_EQ(mxcsr_inside & kMxcsrMaskField, kMxcsrTrapMasks);
  }
}

TEST(StructuredExceptions, HardwareTrapIsAReportedFaultNotACrash) {
  const unsigned before = read_mxcsr();
  for (const testing::TrappingOperation &op : testing::kTrappingOperations) {
    SCOPED_TRACE(op.what);
    bool finished = false;
    const CallOutcome outcome = call_under_traps([&] {
      op.run();
      op.run();  // traps are masked for the rest of the call: no second report
      finished = true;
    });
    EXPECT_TRUE(outcome.trapped);
    EXPECT_TRUE(finished);
    EXPECT_EQ(static_cast<std::uint32_t>(outcome.signal_code), op.exception);
    EXPECT_FALSE(outcome.describe().empty());
    EXPECT_EQ(read_mxcsr(), before);
  }
}

Panel small_panel() {
  Panel p{4, 6, 1, {}};
  for (int i = 0; i < 24; ++i) {
    const double x = (i * 7 % 11) - 5.0;
    p.values.push_back(x);
    p.values.push_back(0.5 * x + ((i * 5 % 13) - 6.0) / 8.0);
  }
  return p;
}

TEST(StructuredExceptions, NanPanelFaultsAndTheHostCarriesOn) {
  ReferenceHost host(QVDEP_MODULE_PATH);
  const TestResults clean = run_dependence_test(host, small_panel(), {});
  ASSERT_TRUE(clean.ok());
  ASSERT_TRUE(clean.faults.empty());

  Panel bad = small_panel();
  bad.values[5] = std::numeric_limits<double>::quiet_NaN();  // not the missing mark
  const TestResults faulted = run_dependence_test(host, bad, {});
  EXPECT_FALSE(faulted.ok() && faulted.faults.empty());

  const TestResults again = run_dependence_test(host, small_panel(), {});
  ASSERT_TRUE(again.ok());
  EXPECT_TRUE(again.faults.empty());
  EXPECT_EQ(bits(again.lm), bits(clean.lm));
  EXPECT_EQ(bits(again.cd_pvalue), bits(clean.cd_pvalue));
  EXPECT_EQ(again.correlations, clean.correlations);
  EXPECT_EQ(host.live_block_count(), 0u);
}

}  // namespace
}  // namespace qvd::host
