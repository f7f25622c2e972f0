// NaN arguments of the distribution functions: quiet and signalling NaNs
// alike come back as the quiet form of the argument (payload and sign
// kept), without a fault or a trap. One case per function and pattern.
#include <bit>
#include <cstdint>
#include <ios>
#include <sstream>
#include <string>
#include <tuple>

#include <gtest/gtest.h>

#include "prob/log_gamma.h"
#include "prob/normal_cdf.h"
#include "support/double_bits.h"
#include "support/fault_recorder.h"
#include "support/nan_patterns.h"

namespace qvd {
namespace {

using namespace testing;

struct Function {
  const char *name;
  double (*f)(double);
};

const Function kFunctions[] = {
    {"log_gamma", log_gamma},
    {"normal_cdf", normal_cdf},
};

class NaNArgument
    : public ::testing::TestWithParam<std::tuple<Function, std::uint64_t>> {};

TEST_P(NaNArgument, ComesBackQuietened) {
  const auto [function, nan] = GetParam();
  FaultRecorder recorder;
  double got;
  {
    TrapSetting traps;
    got = function.f(std::bit_cast<double>(nan));
  }
  EXPECT_EQ(bits(got), nan | kQuietBit) << std::hex << nan;
  EXPECT_EQ(recorder.codes(), kNoFaults);
}

INSTANTIATE_TEST_SUITE_P(
    Patterns, NaNArgument,
    ::testing::Combine(::testing::ValuesIn(kFunctions), ::testing::ValuesIn(kNaNPatterns)),
    [](const ::testing::TestParamInfo<NaNArgument::ParamType> &info) {
      std::ostringstream name;
      name << std::get<0>(info.param).name << "_" << std::hex << std::uppercase
           << std::get<1>(info.param);
      return name.str();
    });

}  // namespace
}  // namespace qvd
