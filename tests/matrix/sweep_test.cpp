// Tests of the sweep operator: the vector variants against the scalar
// definition bit for bit, the algebra of the operator against LAPACK, the
// pivot test at its boundaries and the bookkeeping of the pivot flags.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "matrix/packed_storage.h"
#include "matrix/sweep.h"
#include "platform/cpu_features.h"
#include "support/double_bits.h"
#include "support/fault_recorder.h"
#include "support/lapack.h"
#include "support/packed_index.h"

namespace qvd {
namespace {

using Variant = void (*)(double *, int, int, char *, double *, double);

const double kEps = std::bit_cast<double>(std::uint64_t{0x3CA0000000000002});
const double kMinusEps =
    std::bit_cast<double>(std::uint64_t{0xBCA0000000000002});

using testing::bits;

using testing::packed_cells;

bool avx_available() {
  set_processor_feature_level_for_testing(0);
  return processor_feature_level() >= kFeatureLevelAvx;
}

// Restores automatic detection of the feature level when a test ends.
struct FeatureLevelGuard {
  ~FeatureLevelGuard() { set_processor_feature_level_for_testing(0); }
};

// Storage for a vector of doubles starting `offset` doubles past a 32-byte
// boundary, so every alignment prologue and tail of the vector loops runs.
class PlacedDoubles {
 public:
  PlacedDoubles(int count, int offset)
      : storage_(static_cast<std::size_t>(count) + 8), count_(count) {
    const auto address = reinterpret_cast<std::uintptr_t>(storage_.data());
    const auto skip = (32 - address % 32) % 32 / sizeof(double);
    data_ = storage_.data() + skip + offset;
  }
  double *data() { return data_; }
  double &operator[](int i) { return data_[i]; }
  int size() const { return count_; }

 private:
  std::vector<double> storage_;
  double *data_;
  int count_;
};

// One matrix being swept: the packed cells, the pivot flags and the work
// vector, each placed at its own offset.
struct SweepState {
  SweepState(int n, int matrix_offset, int work_offset, int flag_offset)
      : n(n),
        S(packed_cells(n), matrix_offset),
        work(n, work_offset),
        flag_storage(static_cast<std::size_t>(n) + 4, '0'),
        flags(flag_storage.data() + flag_offset) {}

  void copy_from(const SweepState &other) {
    std::memcpy(S.data(), const_cast<SweepState &>(other).S.data(),
                sizeof(double) * packed_cells(n));
    std::memcpy(work.data(), const_cast<SweepState &>(other).work.data(),
                sizeof(double) * n);
    std::memcpy(flags, other.flags, n);
  }

  double &at(int i, int j) { return S[packed_index(i, j)]; }

  int n;
  PlacedDoubles S;
  PlacedDoubles work;
  std::vector<char> flag_storage;
  char *flags;
};

// Bit-for-bit comparison of everything a sweep writes.
::testing::AssertionResult same_bits(SweepState &expected, SweepState &actual) {
  for (std::size_t c = 0; c < packed_cells(expected.n); ++c) {
    if (bits(expected.S[c]) != bits(actual.S[c])) {
      return ::testing::AssertionFailure()
             << "cell " << c << ": " << std::hexfloat << expected.S[c]
             << " vs " << actual.S[c];
    }
  }
  for (int i = 0; i < expected.n; ++i) {
    if (bits(expected.work[i]) != bits(actual.work[i])) {
      return ::testing::AssertionFailure()
             << "work " << i << ": " << std::hexfloat << expected.work[i]
             << " vs " << actual.work[i];
    }
    if (expected.flags[i] != actual.flags[i]) {
      return ::testing::AssertionFailure() << "flag " << i;
    }
  }
  return ::testing::AssertionSuccess();
}

class RandomMatrices {
 public:
  explicit RandomMatrices(std::uint64_t seed) : rng_(seed) {}

  int below(int limit) {
    return static_cast<int>(rng_() % static_cast<std::uint64_t>(limit));
  }
  double uniform(double lo, double hi) {
    return std::uniform_real_distribution<double>(lo, hi)(rng_);
  }

  // Full-precision values of either sign, with signed zeros; in a matrix
  // with specials now and then an infinity or a NaN of random sign and
  // payload too. Where two NaNs meet in a product the result depends on
  // which one is the first operand, so these catch a variant that orders
  // the factors differently.
  double cell(bool specials) {
    switch (below(specials ? 64 : 32)) {
      case 0: return 0.0;
      case 1: return -0.0;
      case 32: return std::numeric_limits<double>::infinity();
      case 33: return -std::numeric_limits<double>::infinity();
      case 34:
      case 35: return nan();
      default: return uniform(-1.0, 1.0);
    }
  }

  // Quiet or signalling, either sign, a payload that is never empty.
  double nan() {
    const std::uint64_t payload = (rng_() & 0x000FFFFFFFFFFFFFull) | 1u;
    const std::uint64_t sign = rng_() & 0x8000000000000000ull;
    return std::bit_cast<double>(sign | 0x7FF0000000000000ull | payload);
  }

  // Diagonals large enough to keep repeated sweeps finite most of the time,
  // of either sign so negative tolerances matter.
  double diagonal(int n) {
    const double magnitude = 1.0 + uniform(0.0, n);
    return below(4) == 0 ? -magnitude : magnitude;
  }

  char flag() {
    static constexpr char kFlags[] = {'0', '1', '1', '0', '3', '5', 'x', '\0'};
    return kFlags[below(sizeof kFlags)];
  }

  // A tolerance of either sign; some refuse the pivot d.
  double tolerance(double d) {
    switch (below(10)) {
      case 0: return 0.0;
      case 1: return -0.0;
      case 2: return kMinusEps;
      case 3: return std::fabs(d) * uniform(0.5, 1.5);
      case 4: return -std::fabs(d) * uniform(0.5, 1.5);
      case 5: return std::numeric_limits<double>::quiet_NaN();
      case 6: return std::fabs(d);   // the boundary: tol >= d refuses
      case 7: return -std::fabs(d);  // -tol >= |d| refuses
      default: return kEps;
    }
  }

  void fill(SweepState &s, bool specials = false) {
    for (int i = 0; i < s.n; ++i) {
      for (int j = 0; j < i; ++j) s.at(i, j) = cell(specials);
      s.at(i, i) = specials && below(16) == 0 ? nan() : diagonal(s.n);
      s.flags[i] = flag();
    }
    for (int i = 0; i < s.n; ++i) s.work[i] = uniform(-9.0, 9.0);
  }

  std::vector<int> permutation(int n) {
    std::vector<int> order(n);
    std::iota(order.begin(), order.end(), 0);
    std::shuffle(order.begin(), order.end(), rng_);
    return order;
  }

 private:
  std::mt19937_64 rng_;
};

// Sweeps every pivot of thousands of random matrices twice over, in random
// order, with every variant, and compares after every single sweep.
TEST(SweepVariants, BitIdenticalToReferenceOnRandomMatrices) {
  FeatureLevelGuard guard;
  const bool avx = avx_available();
  RandomMatrices random(20240611);
  constexpr int kMatrices = 3000;
  long sweeps = 0, refusals = 0, finite = 0, compared = 0;
  for (int m = 0; m < kMatrices; ++m) {
    const int n = 1 + m % 40;
    const int matrix_offset = m % 4;
    const int work_offset = (m / 4) % 4;
    const int flag_offset = random.below(4);
    SweepState reference(n, matrix_offset, work_offset, flag_offset);
    random.fill(reference, m % 16 == 15);
    SweepState sse2(n, matrix_offset, work_offset, flag_offset);
    SweepState vex(n, matrix_offset, work_offset, flag_offset);
    SweepState dispatched(n, matrix_offset, work_offset, flag_offset);
    sse2.copy_from(reference);
    vex.copy_from(reference);
    dispatched.copy_from(reference);
    // Alternate the dispatcher between the forced SSE2 level and the
    // processor's own.
    set_processor_feature_level_for_testing(m % 2 == 0 ? kFeatureLevelSse2
                                                       : 0);

    std::vector<int> order = random.permutation(n);
    const std::vector<int> again = random.permutation(n);
    order.insert(order.end(), again.begin(), again.end());
    for (int k : order) {
      const double tol = random.tolerance(reference.at(k, k));
      const char before = reference.flags[k];
      sweep_reference(reference.S.data(), k, n, reference.flags,
                      reference.work.data(), tol);
      sweep_sse2(sse2.S.data(), k, n, sse2.flags, sse2.work.data(), tol);
      sweep(dispatched.S.data(), k, n, dispatched.flags,
            dispatched.work.data(), tol);
      ASSERT_TRUE(same_bits(reference, sse2))
          << "SSE2, matrix " << m << " order " << n << " pivot " << k;
      ASSERT_TRUE(same_bits(reference, dispatched))
          << "dispatched, matrix " << m << " order " << n << " pivot " << k;
      if (avx) {
        sweep_avx(vex.S.data(), k, n, vex.flags, vex.work.data(), tol);
        ASSERT_TRUE(same_bits(reference, vex))
            << "AVX, matrix " << m << " order " << n << " pivot " << k;
      }
      ++sweeps;
      if (reference.flags[k] == before) ++refusals;
    }
    for (std::size_t c = 0; c < packed_cells(n); ++c) finite += std::isfinite(reference.S[c]);
    compared += packed_cells(n);
  }
  std::printf("%ld sweeps, %ld refused; %ld of %ld final cells finite\n",
              sweeps, refusals, finite, compared);
  // Most comparisons must be between ordinary numbers, not spread NaNs.
  EXPECT_GT(finite, compared * 3 / 4);
  // Both outcomes of the pivot test must have been exercised in bulk.
  EXPECT_GT(refusals, sweeps / 10);
  EXPECT_LT(refusals, sweeps / 2);
}

// A refused pivot leaves S, the flags and the work vector exactly as they
// were, in every variant.
TEST(SweepVariants, RefusedPivotChangesNothing) {
  RandomMatrices random(7);
  std::vector<Variant> variants = {sweep_reference, sweep_sse2, sweep};
  if (avx_available()) variants.push_back(sweep_avx);
  for (Variant variant : variants) {
    for (int n = 1; n <= 12; ++n) {
      SweepState original(n, n % 4, 0, 0);
      random.fill(original);
      for (int k = 0; k < n; ++k) {
        SweepState s(n, n % 4, 0, 0);
        s.copy_from(original);
        const double d = s.at(k, k);
        const double refusing = d > 0.0 ? d : std::fabs(d);
        variant(s.S.data(), k, n, s.flags, s.work.data(), refusing);
        EXPECT_TRUE(same_bits(original, s)) << "order " << n << " pivot " << k;
      }
    }
  }
  set_processor_feature_level_for_testing(0);
}

// Under the host's trap setting a finite, well-conditioned sweep raises
// nothing in any variant: the vector loops never touch cells outside the
// rows they update.
TEST(SweepVariants, NoFaultUnderTrapSettingOnFiniteMatrices) {
  testing::TrapSetting traps;
  testing::FaultRecorder recorder;
  std::vector<Variant> variants = {sweep_reference, sweep_sse2};
  if (avx_available()) variants.push_back(sweep_avx);
  for (Variant variant : variants) {
    for (int offset = 0; offset < 4; ++offset) {
      constexpr int n = 23;
      SweepState s(n, offset, 3 - offset, offset);
      for (int i = 0; i < n; ++i) {
        for (int j = 0; j < i; ++j) s.at(i, j) = 1.0 / (1 + i + j);
        s.at(i, i) = n + i;
        s.flags[i] = '0';
      }
      for (int pass = 0; pass < 2; ++pass) {
        for (int k = 0; k < n; ++k) {
          variant(s.S.data(), k, n, s.flags, s.work.data(), kEps);
        }
      }
      for (int i = 0; i < n; ++i) EXPECT_EQ(s.flags[i], '0');
    }
  }
  EXPECT_TRUE(recorder.codes().empty());
  set_processor_feature_level_for_testing(0);
}

// A NaN diagonal is never refused; every cell it reaches carries its NaN.
TEST(SweepVariants, NanDiagonalIsAcceptedAlike) {
  std::vector<Variant> variants = {sweep_sse2};
  if (avx_available()) variants.push_back(sweep_avx);
  constexpr int n = 11;
  for (const double tol : {kEps, kMinusEps}) {
    SweepState reference(n, 1, 2, 3);
    RandomMatrices random(99);
    random.fill(reference);
    reference.at(6, 6) = std::bit_cast<double>(std::uint64_t{0x7FF8000000001234});
    SweepState original(n, 1, 2, 3);
    original.copy_from(reference);
    sweep_reference(reference.S.data(), 6, n, reference.flags,
                    reference.work.data(), tol);
    EXPECT_NE(reference.flags[6], original.flags[6]);
    for (Variant variant : variants) {
      SweepState s(n, 1, 2, 3);
      s.copy_from(original);
      variant(s.S.data(), 6, n, s.flags, s.work.data(), tol);
      EXPECT_TRUE(same_bits(reference, s));
    }
  }
  set_processor_feature_level_for_testing(0);
}

// ---- The operator itself ----------------------------------------------

// A random symmetric positive definite matrix B B' + n I, full and packed.
struct SpdMatrix {
  int n;
  std::vector<double> full;  // column-major n x n
  std::vector<double> packed;
};

SpdMatrix random_spd(int n, std::mt19937_64 &rng) {
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  std::vector<double> b(static_cast<std::size_t>(n) * n);
  for (double &v : b) v = u(rng);
  SpdMatrix a{n, std::vector<double>(b.size()),
              std::vector<double>(packed_cells(n))};
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j <= i; ++j) {
      long double sum = i == j ? n : 0;
      for (int l = 0; l < n; ++l) {
        sum += static_cast<long double>(b[i * n + l]) * b[j * n + l];
      }
      const double v = static_cast<double>(sum);
      a.full[i + j * n] = a.full[j + i * n] = v;
      a.packed[packed_index(i, j)] = v;
    }
  }
  return a;
}

// The inverse by LAPACK's LU solver, column-major.
std::vector<double> lapack_inverse(const SpdMatrix &a) {
  const int n = a.n;
  std::vector<double> lu = a.full;
  std::vector<double> x(static_cast<std::size_t>(n) * n, 0.0);
  for (int i = 0; i < n; ++i) x[i + i * n] = 1.0;
  std::vector<int> pivots(n);
  int info = -1;
  dgesv_(&n, &n, lu.data(), &n, pivots.data(), x.data(), &n, &info);
  EXPECT_EQ(info, 0);
  return x;
}

double max_abs(const std::vector<double> &v) {
  double m = 0.0;
  for (double x : v) m = std::fmax(m, std::fabs(x));
  return m;
}

// Sweeping every pivot, in any order, leaves the inverse (swept rows hold
// A^-1 with symmetric signs); sweeping every pivot again restores A.
TEST(SweepOperator, AllPivotsGiveTheInverseAndSweepingBackRestores) {
  std::mt19937_64 rng(31337);
  double worst_inverse = 0.0, worst_restore = 0.0;
  for (int trial = 0; trial < 200; ++trial) {
    const int n = 1 + trial % 40;
    const SpdMatrix a = random_spd(n, rng);
    const std::vector<double> inverse = lapack_inverse(a);
    std::vector<double> S = a.packed;
    std::vector<char> flags(n, trial % 3 == 0 ? '5' : '0');
    std::vector<double> work(n);
    std::vector<int> order(n);
    std::iota(order.begin(), order.end(), 0);
    std::shuffle(order.begin(), order.end(), rng);
    for (int k : order) sweep(S.data(), k, n, flags.data(), work.data(), kEps);
    const double scale = max_abs(inverse);
    for (int i = 0; i < n; ++i) {
      ASSERT_EQ(flags[i], '1');
      for (int j = 0; j <= i; ++j) {
        const double error =
            std::fabs(S[packed_index(i, j)] - inverse[i + j * n]) / scale;
        worst_inverse = std::fmax(worst_inverse, error);
      }
    }
    std::shuffle(order.begin(), order.end(), rng);
    for (int k : order) sweep(S.data(), k, n, flags.data(), work.data(), kEps);
    const double a_scale = max_abs(a.packed);
    for (std::size_t c = 0; c < packed_cells(n); ++c) {
      worst_restore = std::fmax(
          worst_restore, std::fabs(S[c] - a.packed[c]) / a_scale);
    }
    for (int i = 0; i < n; ++i) ASSERT_EQ(flags[i], '0');
  }
  EXPECT_LT(worst_inverse, 1e-14);
  EXPECT_LT(worst_restore, 1e-14);
  std::printf("worst |S - inv(A)| / max|inv(A)| = %.3g, restore %.3g\n",
              worst_inverse, worst_restore);
}

// After sweeping the leading block A of [[A, B], [B', C]], the swept cells
// hold A^-1, the mixed cells +A^-1 B and the unswept cells the Schur
// complement C - B' A^-1 B, all computed here from LAPACK's A^-1.
TEST(SweepOperator, LeadingBlockGivesInverseRegressionAndSchurComplement) {
  std::mt19937_64 rng(4242);
  for (int trial = 0; trial < 60; ++trial) {
    const int n = 2 + trial % 30;
    const int p = 1 + trial % (n - 1);
    const SpdMatrix m = random_spd(n, rng);
    SpdMatrix a{p, std::vector<double>(static_cast<std::size_t>(p) * p), {}};
    for (int i = 0; i < p; ++i) {
      for (int j = 0; j < p; ++j) a.full[i + j * p] = m.full[i + j * n];
    }
    const std::vector<double> a_inv = lapack_inverse(a);
    auto coef = [&](int j, int i) {  // (A^-1 B)[j][i - p]
      long double sum = 0;
      for (int l = 0; l < p; ++l) {
        sum += static_cast<long double>(a_inv[j + l * p]) * m.full[l + i * n];
      }
      return sum;
    };

    std::vector<double> S = m.packed;
    std::vector<char> flags(n, '0');
    std::vector<double> work(n);
    std::vector<int> order(p);
    std::iota(order.begin(), order.end(), 0);
    std::shuffle(order.begin(), order.end(), rng);
    for (int k : order) sweep(S.data(), k, n, flags.data(), work.data(), kEps);

    const double tolerance = 1e-13 * max_abs(m.packed) * max_abs(a_inv);
    for (int i = 0; i < n; ++i) {
      for (int j = 0; j <= i; ++j) {
        long double expected;
        if (i < p) {
          expected = a_inv[i + j * p];
        } else if (j < p) {
          expected = coef(j, i);
        } else {
          long double correction = 0;
          for (int l = 0; l < p; ++l) {
            correction += static_cast<long double>(m.full[l + i * n]) * coef(l, j);
          }
          expected = m.full[i + j * n] - correction;
        }
        EXPECT_NEAR(S[packed_index(i, j)], static_cast<double>(expected),
                    tolerance)
            << "order " << n << " block " << p << " cell " << i << "," << j;
      }
    }
  }
}

// Sweeping two pivots in either order gives the same matrix to rounding.
TEST(SweepOperator, TwoPivotsCommute) {
  std::mt19937_64 rng(555);
  for (int trial = 0; trial < 100; ++trial) {
    const int n = 2 + trial % 20;
    const SpdMatrix m = random_spd(n, rng);
    const int k1 = static_cast<int>(rng() % n);
    const int k2 = (k1 + 1 + static_cast<int>(rng() % (n - 1))) % n;
    std::vector<double> s1 = m.packed, s2 = m.packed, work(n);
    std::vector<char> f1(n, '0'), f2(n, '0');
    sweep(s1.data(), k1, n, f1.data(), work.data(), kEps);
    sweep(s1.data(), k2, n, f1.data(), work.data(), kEps);
    sweep(s2.data(), k2, n, f2.data(), work.data(), kEps);
    sweep(s2.data(), k1, n, f2.data(), work.data(), kEps);
    EXPECT_EQ(f1, f2);
    const double scale = max_abs(s1);
    for (std::size_t c = 0; c < packed_cells(n); ++c) {
      EXPECT_NEAR(s1[c], s2[c], 1e-14 * scale) << "cell " << c;
    }
  }
}

// The worked example of order 2: A = [[4, 2], [2, 3]].
TEST(SweepOperator, OrderTwoExample) {
  double S[3] = {4.0, 2.0, 3.0};
  char flags[2] = {'0', '0'};
  double work[2] = {-7.0, -7.0};
  sweep(S, 0, 2, flags, work, kEps);
  EXPECT_EQ(S[0], 0.25);
  EXPECT_EQ(S[1], 0.5);
  EXPECT_EQ(S[2], 2.0);
  EXPECT_EQ(std::string(flags, 2), "10");
  EXPECT_EQ(bits(work[0]), bits(0.0));
  EXPECT_EQ(work[1], 2.0);

  sweep(S, 1, 2, flags, work, kEps);
  EXPECT_EQ(S[0], 0.375);  // the inverse, exactly: 1/8 [[3, -2], [-2, 4]]
  EXPECT_EQ(S[1], -0.25);
  EXPECT_EQ(S[2], 0.5);
  EXPECT_EQ(std::string(flags, 2), "11");

  // Taking pivot 0 back out leaves what sweeping pivot 1 alone gives:
  // 8/3, -2/3 and 1/3, to rounding.
  sweep(S, 0, 2, flags, work, kEps);
  EXPECT_EQ(std::string(flags, 2), "01");
  double T[3] = {4.0, 2.0, 3.0};
  char tflags[2] = {'0', '0'};
  sweep(T, 1, 2, tflags, work, kEps);
  EXPECT_EQ(std::string(tflags, 2), "01");
  const double expected[3] = {8.0 / 3.0, -2.0 / 3.0, 1.0 / 3.0};
  for (int c = 0; c < 3; ++c) {
    EXPECT_NEAR(T[c], expected[c], 2 * std::ldexp(1.0, -52) * std::fabs(expected[c]));
    EXPECT_NEAR(S[c], expected[c], 4 * std::ldexp(1.0, -52) * std::fabs(expected[c]));
  }
}

// The pivot test at its boundaries, for both signs of tolerance.
TEST(SweepOperator, PivotTest) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double tiny = std::numeric_limits<double>::denorm_min();
  struct Case {
    double d, tol;
    bool accepted;
  };
  const Case cases[] = {
      {0.0, kEps, false},
      {-0.0, kEps, false},
      {-1.0, kEps, false},
      {-1.0, kMinusEps, true},
      {kEps, kEps, false},                          // tol >= d
      {std::nextafter(kEps, 1.0), kEps, true},
      {0.0, 0.0, false},
      {0.0, -0.0, false},                           // -0 behaves as +0
      {-1.0, -0.0, false},
      {tiny, -0.0, true},
      {tiny, 0.0, true},
      {-2.0, -2.0, false},                          // -tol >= |d|
      {2.0, -2.0, false},
      {std::nextafter(-2.0, -3.0), -2.0, true},
      {0.0, kMinusEps, false},
      {nan, kEps, true},                            // never refused
      {nan, kMinusEps, true},
      {-5.0, nan, true},                            // NaN tolerance never refuses
      {std::numeric_limits<double>::infinity(), 1e300, true},
  };
  std::vector<Variant> variants = {sweep_reference, sweep_sse2, sweep};
  if (avx_available()) variants.push_back(sweep_avx);
  for (Variant variant : variants) {
    for (const Case &c : cases) {
      double S[3] = {c.d, 0.5, 2.0};
      char flags[2] = {'0', '0'};
      double work[2] = {9.0, 9.0};
      variant(S, 0, 2, flags, work, c.tol);
      EXPECT_EQ(flags[0] == '1', c.accepted) << "d " << c.d << " tol " << c.tol;
      if (!c.accepted) {
        EXPECT_EQ(bits(S[0]), bits(c.d));
        EXPECT_EQ(S[1], 0.5);
        EXPECT_EQ(S[2], 2.0);
        EXPECT_EQ(work[0], 9.0);
        EXPECT_EQ(work[1], 9.0);
      }
    }
  }
  set_processor_feature_level_for_testing(0);
}

TEST(SweepOperator, NegativePivotAcceptedUnderNegativeTolerance) {
  double S[1] = {-1.0};
  char flags[1] = {'0'};
  double work[1];
  sweep(S, 0, 1, flags, work, kMinusEps);
  EXPECT_EQ(S[0], -1.0);
  EXPECT_EQ(flags[0], '1');
}

// Order 1: only the diagonal (and the work slot of the pivot) changes.
TEST(SweepOperator, OrderOne) {
  double S[1] = {5.0};
  char flags[1] = {'3'};
  double work[1] = {7.0};
  sweep(S, 0, 1, flags, work, kEps);
  EXPECT_EQ(S[0], 0.2);
  EXPECT_EQ(flags[0], '1');
  EXPECT_EQ(bits(work[0]), bits(0.0));
  sweep(S, 0, 1, flags, work, kEps);
  EXPECT_EQ(S[0], 5.0);
  EXPECT_EQ(flags[0], '0');
}

// Only the pivot's flag is written: a '5' elsewhere stays '5' and counts as
// not swept; a '3' on the pivot becomes '1', and '0' once swept back.
TEST(SweepOperator, FlagBookkeeping) {
  std::mt19937_64 rng(8);
  const SpdMatrix m = random_spd(4, rng);
  std::vector<double> S = m.packed, work(4);
  std::vector<char> flags = {'5', '3', '0', 'x'};
  sweep(S.data(), 1, 4, flags.data(), work.data(), kEps);
  EXPECT_EQ(std::string(flags.begin(), flags.end()), "51" "0x");
  // '5' and '0' and 'x' are all "not swept": with the pivot not swept
  // before the call they share its old state and get the same signs.
  std::vector<double> T = m.packed;
  std::vector<char> plain = {'0', '0', '0', '0'};
  sweep(T.data(), 1, 4, plain.data(), work.data(), kEps);
  for (std::size_t c = 0; c < packed_cells(4); ++c) EXPECT_EQ(bits(S[c]), bits(T[c]));
  sweep(S.data(), 1, 4, flags.data(), work.data(), kEps);
  EXPECT_EQ(std::string(flags.begin(), flags.end()), "50" "0x");
}

// Pivot-column cells of zero and infinity pass through step 8's +0 * g
// term: -0 becomes +0, an infinite cell becomes NaN.
TEST(SweepOperator, PivotColumnZerosAndInfinities) {
  const double inf = std::numeric_limits<double>::infinity();
  double S[6] = {2.0, -0.0, 3.0, inf, 1.0, 5.0};
  char flags[3] = {'0', '0', '0'};
  double work[3];
  sweep_reference(S, 0, 3, flags, work, kEps);
  EXPECT_EQ(bits(S[packed_index(1, 0)]), bits(0.0));
  EXPECT_TRUE(std::isnan(S[packed_index(2, 0)]));
}

}  // namespace
}  // namespace qvd
