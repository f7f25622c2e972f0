// Per-cross-section regressions, checked against LAPACK: unrestricted fits
// against the QR least-squares solver (dgels), restricted fits against the
// bordered normal equations [[X'X, R'], [R, 0]] [b; l] = [X'y; q] solved by
// LU (dgesv), with X'X and X'y formed in long double so that the reference
// carries no error of its own beyond its solve.
//
// Tolerance. The sweep solves the normal equations, whose entries carry a
// relative error of at most about (T + p) u; by the perturbation bound for a
// linear system the coefficients then differ from the exact solution by at
// most about kappa (T + p) u (|b| + |y| / sigma_max), with kappa the 2-norm
// condition number of X'X and sigma_max the largest singular value of X.
// With restrictions, kappa also takes the condition number of the Schur
// complement R (X'X)^-1 R' that the sweep of the restriction block solves.
// The tests allow 8 times that bound; each test prints the largest ratio
// it saw.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "engine/regression.h"
#include "numeric/missing_value.h"
#include "support/fault_recorder.h"
#include "support/lapack.h"
#include "support/packed_index.h"

namespace qvd {
namespace {

using Matrix = std::vector<double>;  // column-major
constexpr double kUnit = 0x1p-53;
// Restriction coefficients count as non-zero above this (bits 0x0010000000000001).
constexpr double kNonZeroThreshold = 0x1.0000000000001p-1022;
static_assert(std::bit_cast<std::uint64_t>(kNonZeroThreshold) == 0x0010000000000001u);

double bits(std::uint64_t b) { return std::bit_cast<double>(b); }
bool same_bits(double a, double b) {
  return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

// A panel in the module's layout with its restrictions.
struct Panel {
  int N, T, K, c;
  std::vector<double> values;
  std::vector<double> rhs, coef;  // h values; h rows of K + c
  Panel(int n, int t, int k, int c_)
      : N(n), T(t), K(k), c(c_), values(std::size_t(n) * t * (k + 1)) {}
  int p() const { return K + c; }
  int h() const { return int(rhs.size()); }
  // Value v of observation (i, t), both from 1; v = K is the dependent.
  double &at(int i, int t, int v) {
    return values[(std::size_t(i - 1) * T + (t - 1)) * (K + 1) + v];
  }
  void add_restriction(std::vector<double> a, double q) {
    coef.insert(coef.end(), a.begin(), a.end());
    rhs.push_back(q);
  }
};

// y = X beta + noise with standard normal regressors; beta in [-2, 2].
void fill_random(Panel &P, std::uint64_t seed, double noise = 0.5) {
  std::mt19937_64 gen(seed);
  std::normal_distribution<double> normal;
  std::uniform_real_distribution<double> uniform(-2.0, 2.0);
  for (int i = 1; i <= P.N; ++i) {
    std::vector<double> beta(P.p() + 1);
    for (double &b : beta) b = uniform(gen);
    for (int t = 1; t <= P.T; ++t) {
      double y = P.c ? beta[0] : 0.0;
      for (int v = 0; v < P.K; ++v) {
        P.at(i, t, v) = normal(gen);
        y += beta[P.c + v] * P.at(i, t, v);
      }
      P.at(i, t, P.K) = y + noise * normal(gen);
    }
  }
}

// The request with every work buffer sized exactly as the run frame takes it.
struct Fit {
  Panel &P;
  std::vector<double> row, work, sscp, saved, residuals, coefficients;
  std::vector<char> flags;
  DependenceRequest request{};
  explicit Fit(Panel &panel) : P(panel) {
    const int m = P.p() + P.h() + 1;
    row.resize(P.p() + 1);
    work.resize(m);
    flags.resize(m);
    sscp.resize(testing::packed_cells(m));
    saved.resize(sscp.size());
    residuals.assign(std::size_t(P.N) * P.T, -7.0);
    coefficients.resize(P.p());
    request.panel = P.values.data();
    request.n_sections = P.N;
    request.n_periods = P.T;
    request.n_regressors = P.K;
    request.n_intercept = P.c;
    request.n_restrictions = P.h();
    request.restriction_rhs = P.rhs.data();
    request.restriction_coef = P.coef.data();
    request.sscp = sscp.data();
    request.sscp_saved = saved.data();
    request.pivot_flags = flags.data();
    request.sweep_work = work.data();
    request.row = row.data();
  }
  void section(int i) {
    request.status = 77;
    {
      testing::TrapSetting trap;
      regress_cross_section(request, i, coefficients.data(),
                            residuals.data() + std::size_t(i - 1) * P.T, 1);
    }
    EXPECT_EQ(request.status, 0);
  }
  double residual(int i, int t) const {
    return residuals[std::size_t(i - 1) * P.T + (t - 1)];
  }
};

// ---- Independent references (run outside the trap setting) -------------

int lwork_for(int m, int n) { return 64 * (m + n) + 5 * std::max(m, n); }

// Singular values of the rows x cols matrix A.
std::vector<double> singular_values(Matrix A, int rows, int cols) {
  std::vector<double> s(std::min(rows, cols)), w(lwork_for(rows, cols));
  const int lw = int(w.size()), one = 1;
  int info = 0;
  dgesvd_("N", "N", &rows, &cols, A.data(), &rows, s.data(), nullptr, &one,
          nullptr, &one, w.data(), &lw, &info, 1, 1);
  EXPECT_EQ(info, 0);
  return s;
}

// The complete periods of section i as a design X (regression-row order,
// without the columns in `dropped`) and the dependent y.
struct Design {
  int rows = 0, cols = 0;
  Matrix X;
  std::vector<double> y;
  std::vector<int> kept;  // coefficient positions kept, in order
};

Design design_of(Panel &P, int i, const std::vector<int> &dropped = {}) {
  Design D;
  for (int s = 0; s < P.p(); ++s)
    if (std::find(dropped.begin(), dropped.end(), s) == dropped.end())
      D.kept.push_back(s);
  D.cols = int(D.kept.size());
  std::vector<std::vector<double>> rows;
  for (int t = 1; t <= P.T; ++t) {
    std::vector<double> full;
    if (P.c) full.push_back(1.0);
    bool missing = is_missing(P.at(i, t, P.K));
    for (int v = 0; v < P.K; ++v) {
      full.push_back(P.at(i, t, v));
      missing = missing || is_missing(P.at(i, t, v));
    }
    if (missing) continue;
    std::vector<double> r;
    for (int s : D.kept) r.push_back(full[s]);
    rows.push_back(r);
    D.y.push_back(P.at(i, t, P.K));
  }
  D.rows = int(rows.size());
  D.X.resize(std::size_t(D.rows) * D.cols);
  for (int r = 0; r < D.rows; ++r)
    for (int s = 0; s < D.cols; ++s) D.X[std::size_t(s) * D.rows + r] = rows[r][s];
  return D;
}

// Reference coefficients in full position order (0 for dropped columns) and
// the error scale kappa (T + p) u (|b| + |y| / sigma_max) they are held to.
struct Reference {
  std::vector<double> b;
  double scale;
};

double norm2(const std::vector<double> &v, std::size_t n) {
  long double s = 0;
  for (std::size_t j = 0; j < n; ++j) s += (long double)v[j] * v[j];
  return double(std::sqrt(s));
}

Reference least_squares(Panel &P, int i, const std::vector<int> &dropped = {}) {
  Design D = design_of(P, i, dropped);
  const std::vector<double> sv = singular_values(D.X, D.rows, D.cols);
  std::vector<double> b = D.y, w(lwork_for(D.rows, D.cols));
  const int one = 1, lw = int(w.size());
  int info = 0;
  dgels_("N", &D.rows, &D.cols, &one, D.X.data(), &D.rows, b.data(), &D.rows,
         w.data(), &lw, &info, 1);
  EXPECT_EQ(info, 0);
  Reference R{std::vector<double>(P.p(), 0.0), 0.0};
  for (int s = 0; s < D.cols; ++s) R.b[D.kept[s]] = b[s];
  const double kappa = std::pow(sv.front() / sv.back(), 2);
  R.scale = kappa * (D.rows + D.cols) * kUnit *
            (norm2(b, D.cols) + norm2(D.y, D.rows) / sv.front());
  return R;
}

// Solution of the bordered normal equations over the kept columns. Its error
// scale takes the condition of X'X for the coefficient block times that of
// the Schur complement R (X'X)^-1 R' that the restriction block solves.
Reference bordered(Panel &P, int i, const std::vector<int> &dropped = {}) {
  Design D = design_of(P, i, dropped);
  const int p = D.cols, h = P.h(), n = p + h, one = 1;
  Matrix K(std::size_t(n) * n, 0.0);  // [[X'X, R'], [R, 0]]
  std::vector<double> z(n);
  for (int a = 0; a < p; ++a) {
    long double xy = 0;
    for (int r = 0; r < D.rows; ++r) xy += (long double)D.X[a * D.rows + r] * D.y[r];
    z[a] = double(xy);
    for (int b = 0; b < p; ++b) {
      long double s = 0;
      for (int r = 0; r < D.rows; ++r)
        s += (long double)D.X[a * D.rows + r] * D.X[b * D.rows + r];
      K[b * n + a] = double(s);
    }
  }
  Matrix A(std::size_t(p) * p), W(std::size_t(p) * h), S(std::size_t(h) * h, 0.0);
  for (int a = 0; a < p; ++a)
    for (int b = 0; b < p; ++b) A[b * p + a] = K[b * n + a];
  for (int q = 0; q < h; ++q) {
    for (int a = 0; a < p; ++a)
      K[a * n + (p + q)] = K[(p + q) * n + a] = W[q * p + a] =
          P.coef[q * P.p() + D.kept[a]];
    z[p + q] = P.rhs[q];
  }
  std::vector<int> pivots(n);
  int info = 0;
  dgesv_(&p, &h, A.data(), &p, pivots.data(), W.data(), &p, &info);  // (X'X)^-1 R'
  EXPECT_EQ(info, 0);
  for (int q = 0; q < h; ++q)
    for (int r = 0; r < h; ++r)
      for (int a = 0; a < p; ++a) S[r * h + q] += K[a * n + (p + q)] * W[r * p + a];
  dgesv_(&n, &one, K.data(), &n, pivots.data(), z.data(), &n, &info);
  EXPECT_EQ(info, 0);
  const std::vector<double> sx = singular_values(D.X, D.rows, p);
  const std::vector<double> ss = singular_values(S, h, h);
  Reference R{std::vector<double>(P.p(), 0.0), 0.0};
  for (int s = 0; s < p; ++s) R.b[D.kept[s]] = z[s];
  R.scale = std::pow(sx.front() / sx.back(), 2) * (ss.front() / ss.back()) *
            (D.rows + n) * kUnit * (norm2(z, p) + norm2(D.y, D.rows) / sx.front());
  return R;
}

// Compares the fitted section with the reference: coefficients within
// 8 * scale, residuals within the propagated coefficient error plus a few
// roundings of their own terms; missing exactly where a value is missing.
// Returns the largest error in units of the coefficient scale.
double check_section(Fit &F, int i, const Reference &R) {
  Panel &P = F.P;
  const double allowed = 8 * R.scale;
  double worst = 0;
  for (int s = 0; s < P.p(); ++s) {
    const double err = std::fabs(F.coefficients[s] - R.b[s]);
    EXPECT_LE(err, allowed) << "section " << i << " coefficient " << s;
    worst = std::max(worst, err / R.scale);
  }
  for (int t = 1; t <= P.T; ++t) {
    bool missing = false;
    long double e = P.at(i, t, P.K), size = std::fabs(e), reach = 0;
    for (int s = 0; s < P.p(); ++s) {
      const double x = (P.c && s == 0) ? 1.0 : P.at(i, t, s - P.c);
      missing = missing || is_missing(x);
      if (missing) break;
      e -= (long double)R.b[s] * x;
      size += std::fabs((long double)R.b[s] * x);
      reach += std::fabs(x);
    }
    missing = missing || is_missing(P.at(i, t, P.K));
    if (missing) {
      EXPECT_TRUE(same_bits(F.residual(i, t), kMissingResult)) << "period " << t;
      continue;
    }
    const double bound = double(reach) * allowed + 4 * (P.p() + 1) * kUnit * double(size);
    EXPECT_LE(std::fabs(F.residual(i, t) - double(e)), bound) << "period " << t;
  }
  return worst;
}

void report(const char *what, double worst) {
  std::printf("[ measured ] %s: worst coefficient error %.3g x bound\n", what, worst);
}

// ---- Exact anchor ---------------------------------------------------------

// x = (-1, 1, -1, 1), y = (1, 3, 2, 6): orthogonal columns with power-of-two
// norms, so every step is exact: b = (3, 1.5), residuals (-.5, -1.5, .5, 1.5).
TEST(Regression, ExactSmallFitIsBitExact) {
  Panel P(1, 4, 1, 1);
  const double x[] = {-1, 1, -1, 1}, y[] = {1, 3, 2, 6};
  for (int t = 1; t <= 4; ++t) P.at(1, t, 0) = x[t - 1], P.at(1, t, 1) = y[t - 1];
  Fit F(P);
  F.section(1);
  EXPECT_EQ(F.coefficients, (std::vector<double>{3.0, 1.5}));
  EXPECT_EQ(F.residuals, (std::vector<double>{-0.5, -1.5, 0.5, 1.5}));
  EXPECT_EQ(F.flags, (std::vector<char>{'1', '1', '0'}));
  EXPECT_EQ(F.sscp[5], 5.0);  // residual sum of squares at (M, M)
  EXPECT_EQ(F.request.near_perfect_fit, 0);
}

// ---- Unrestricted fits against QR least squares ----------------------------

struct Shape {
  int T, K, c;
  double column_scale;  // applied to regressor 0 to raise the condition
};

TEST(Regression, UnrestrictedMatchesLeastSquares) {
  const Shape shapes[] = {{20, 3, 1, 1}, {20, 3, 0, 1},  {5, 1, 1, 1},
                          {40, 6, 1, 1}, {7, 6, 0, 1},   {10, 0, 1, 1},
                          {30, 4, 1, 1e3}, {30, 2, 0, 1e-4}, {60, 9, 1, 1}};
  double worst = 0;
  std::uint64_t seed = 101;
  for (const Shape &S : shapes) {
    Panel P(3, S.T, S.K, S.c);
    fill_random(P, seed++);
    for (int i = 1; i <= P.N; ++i)
      for (int t = 1; t <= P.T && S.K > 0; ++t) P.at(i, t, 0) *= S.column_scale;
    Fit F(P);
    for (int i = 1; i <= P.N; ++i) {
      SCOPED_TRACE(::testing::Message() << "T " << S.T << " K " << S.K << " c " << S.c);
      const Reference R = least_squares(P, i);
      F.section(i);
      worst = std::max(worst, check_section(F, i, R));
      for (int s = 0; s <= P.p(); ++s) EXPECT_EQ(F.flags[s], s < P.p() ? '1' : '0');
      // Rows of later sections are not written yet.
      for (std::size_t j = std::size_t(i) * P.T; j < F.residuals.size(); ++j)
        EXPECT_EQ(F.residuals[j], -7.0);
    }
  }
  report("unrestricted", worst);
}

// Missing values of several bit patterns anywhere in a row leave the period
// out of the fit and give it a missing residual.
TEST(Regression, MissingValuesLeavePeriodsOut) {
  Panel P(2, 25, 3, 1);
  fill_random(P, 7);
  const double patterns[] = {kMissingResult, bits(0xFFFF000000000000),
                             bits(0xFFFFFFFFFFFFFFFF), bits(0xFFFF123456789ABC)};
  const int places[][2] = {{1, 0}, {4, 3}, {5, 1}, {9, 2}, {13, 0}, {25, 3}};
  for (int j = 0; j < 6; ++j) P.at(1, places[j][0], places[j][1]) = patterns[j % 4];
  P.at(2, 3, 0) = P.at(2, 3, 3) = kMissingResult;  // two in one row
  Fit F(P);
  double worst = 0;
  for (int i = 1; i <= 2; ++i) {
    const Reference R = least_squares(P, i);
    F.section(i);
    worst = std::max(worst, check_section(F, i, R));
  }
  report("with missing values", worst);
}

// K = 0 with an intercept fits the mean of the complete periods; c = 0 with
// K = 0 fits nothing and returns y itself.
TEST(Regression, InterceptOnlyFitsTheMean) {
  Panel P(1, 13, 0, 1);
  fill_random(P, 3);
  P.at(1, 4, 0) = P.at(1, 11, 0) = kMissingResult;
  long double sum = 0;
  for (int t = 1; t <= 13; ++t)
    if (t != 4 && t != 11) sum += P.at(1, t, 0);
  const double mean = double(sum / 11);
  Fit F(P);
  F.section(1);
  // Summation, one reciprocal and one product: a few units of |y| / n.
  EXPECT_NEAR(F.coefficients[0], mean, 16 * kUnit * (std::fabs(mean) + 2));
  for (int t = 1; t <= 13; ++t)
    if (t == 4 || t == 11)
      EXPECT_TRUE(same_bits(F.residual(1, t), kMissingResult));
    else
      EXPECT_TRUE(same_bits(F.residual(1, t), P.at(1, t, 0) - F.coefficients[0]));

  Panel Q(1, 5, 0, 0);
  fill_random(Q, 4);
  Fit G(Q);
  G.section(1);
  for (int t = 1; t <= 5; ++t) EXPECT_TRUE(same_bits(G.residual(1, t), Q.at(1, t, 0)));
  EXPECT_EQ(G.request.near_perfect_fit, 0);
}

// ---- Collinear regressors ------------------------------------------------

// Regressors whose pivot the sweep refuses: identically zero, identically
// one (a copy of the constant, with T a power of two so that the sweep
// cancels it exactly), or so small (about 1e-9) that their sum of squares
// stays below the absolute pivot tolerance of about 1.1e-16.
struct Collinear {
  int K, c;
  std::vector<int> zero, ones, tiny;  // regressor numbers v
};

void make_collinear(Panel &P, const Collinear &C) {
  for (int i = 1; i <= P.N; ++i)
    for (int t = 1; t <= P.T; ++t) {
      for (int v : C.zero) P.at(i, t, v) = 0.0;
      for (int v : C.ones) P.at(i, t, v) = 1.0;
      for (int v : C.tiny) P.at(i, t, v) *= 1e-9;
    }
}

std::vector<int> positions_of(const Collinear &C) {
  std::vector<int> s;
  for (const auto *list : {&C.zero, &C.ones, &C.tiny})
    for (int v : *list) s.push_back(C.c + v);
  return s;
}

TEST(Regression, CollinearRegressorGetsZero) {
  const Collinear cases[] = {{3, 1, {1}, {}, {}},  {3, 1, {0}, {}, {}},
                             {3, 0, {2}, {}, {}},  {2, 1, {}, {1}, {}},
                             {4, 1, {3}, {0}, {}}, {3, 1, {}, {}, {1}}};
  double worst = 0;
  for (const Collinear &C : cases) {
    Panel P(2, 16, C.K, C.c);
    fill_random(P, 11 + C.K);
    make_collinear(P, C);
    const std::vector<int> dropped = positions_of(C);
    Fit F(P);
    for (int i = 1; i <= P.N; ++i) {
      const Reference R = least_squares(P, i, dropped);
      F.section(i);
      worst = std::max(worst, check_section(F, i, R));
      for (int s : dropped) {
        EXPECT_EQ(F.flags[s], '0');
        EXPECT_TRUE(same_bits(F.coefficients[s], 0.0));
      }
    }
  }
  report("collinear", worst);
}

// ---- Restricted fits against the bordered system --------------------------

struct Restricted {
  const char *name;
  int K, c;
  std::vector<std::vector<double>> a;
  std::vector<double> q;
  const char *flags;  // expected coefficient flags after the fit
};

TEST(Regression, RestrictedMatchesBorderedSystem) {
  const double e = kNonZeroThreshold, above = std::nextafter(e, 1.0);
  const Restricted cases[] = {
      {"dense", 3, 1, {{0.3, -1, 2, 0.5}}, {1.5}, "1111"},
      {"two dense", 4, 1, {{1, 1, 1, 1, 1}, {0, 2, -1, 0, 3}}, {2, -1}, "11111"},
      {"fixes one", 3, 1, {{0, 0, 0.5, 0}}, {0.25}, "1131"},
      {"fixes one, then dense", 3, 1, {{0, 2, 0, 0}, {0, 0, 1, 1}}, {1, 1}, "1311"},
      {"fixes two", 3, 1, {{0, -4, 0, 0}, {0, 0, 0, 1}}, {1, -0.25}, "1313"},
      {"epsilon is zero", 2, 0, {{e, 1}}, {2}, "13"},
      {"above epsilon is not", 2, 0, {{above, 1}}, {2}, "11"},
      {"negative single", 2, 1, {{0, 0, -3}}, {1}, "113"},
  };
  double worst = 0;
  std::uint64_t seed = 500;
  for (const Restricted &C : cases) {
    SCOPED_TRACE(C.name);
    Panel P(2, 20, C.K, C.c);
    fill_random(P, seed++);
    for (std::size_t r = 0; r < C.q.size(); ++r) P.add_restriction(C.a[r], C.q[r]);
    Fit F(P);
    for (int i = 1; i <= P.N; ++i) {
      const Reference R = bordered(P, i);
      F.section(i);
      worst = std::max(worst, check_section(F, i, R));
      EXPECT_EQ(std::string(F.flags.begin(), F.flags.begin() + P.p()), C.flags);
      for (int r = 0; r < P.h(); ++r) EXPECT_EQ(F.flags[P.p() + r], '1');
    }
  }
  report("restricted", worst);
}

// A collinear regressor with restrictions present sends the fit through the
// retry pass: columns fixed alone are held back ('5') and swept afterwards,
// the collinear one stays at 0 and the rest solve the bordered system
// without it.
TEST(Regression, RetryPassWithCollinearRegressor) {
  struct Retry {
    Collinear C;
    std::vector<std::vector<double>> a;
    std::vector<double> q;
    const char *flags;
  };
  const Retry cases[] = {
      {{2, 1, {}, {1}, {}}, {{0, 1, 0}}, {0.5}, "150"},
      {{2, 1, {}, {1}, {}}, {{0, 1, 1}}, {1}, "110"},
      {{3, 1, {2}, {}, {}}, {{0, 1, 0, 0}, {0, -1, 1, 0}}, {0.5, 0}, "1510"},
      {{3, 0, {0}, {}, {}}, {{0, 2, 0}, {0, 0, 1}}, {1, 3}, "055"},
      // The tiny regressor's diagonal shrinks the retry tolerance far below
      // it; being refused once, it is still not swept again.
      {{2, 1, {}, {}, {1}}, {{0, 1, 0}}, {0.5}, "150"},
  };
  double worst = 0;
  for (const Retry &C : cases) {
    Panel P(2, 16, C.C.K, C.C.c);
    fill_random(P, 900 + C.C.K);
    make_collinear(P, C.C);
    for (std::size_t r = 0; r < C.q.size(); ++r) P.add_restriction(C.a[r], C.q[r]);
    Fit F(P);
    for (int i = 1; i <= P.N; ++i) {
      const Reference R = bordered(P, i, positions_of(C.C));
      F.section(i);
      worst = std::max(worst, check_section(F, i, R));
      EXPECT_EQ(std::string(F.flags.begin(), F.flags.begin() + P.p()), C.flags);
    }
  }
  report("retry pass", worst);
}

// A regressor of size 1e-9 is refused under the absolute tolerance, which
// sends the fit into the retry pass; a restriction fixing its coefficient
// holds it back, and the retry tolerance, scaled down to its diagonal of
// about 1e-17, then takes it: b1 is the restricted 0.5 and b0 the mean of
// y - 0.5 x1. (A tolerance not scaled down, about -1e-10, would refuse it.)
TEST(Regression, RetryToleranceFollowsTheSmallestDiagonal) {
  Panel P(1, 16, 1, 1);
  fill_random(P, 31);
  make_collinear(P, {1, 1, {}, {}, {0}});
  P.add_restriction({0, 1}, 0.5);
  long double mean = 0;
  for (int t = 1; t <= 16; ++t) mean += P.at(1, t, 1) - 0.5L * P.at(1, t, 0);
  mean /= 16;
  Fit F(P);
  F.section(1);
  EXPECT_EQ(std::string(F.flags.begin(), F.flags.end()), "1510");
  // Column scaling does not change the accuracy of the sweep: a few units
  // of the data's size (|y| < 8 here).
  EXPECT_NEAR(F.coefficients[1], 0.5, 64 * kUnit);
  EXPECT_NEAR(F.coefficients[0], double(mean), 64 * 8 * kUnit);
}

// ---- No usable period, near-perfect fits -----------------------------------

TEST(Regression, NoCompletePeriodGivesZeroFit) {
  const int shapes[][3] = {{2, 1, 0}, {3, 0, 0}, {2, 1, 1}, {0, 1, 0}};  // K, c, h
  for (const auto &S : shapes) {
    Panel P(1, 6, S[0], S[1]);
    fill_random(P, 21);
    for (int t = 1; t <= 6; ++t) P.at(1, t, (t - 1) % (S[0] + 1)) = kMissingResult;
    if (S[2]) P.add_restriction({0, 1, 0}, 0.5);  // fixes coefficient 1
    Fit F(P);
    F.section(1);
    for (double b : F.coefficients) EXPECT_TRUE(same_bits(b, 0.0));
    for (double e : F.residuals) EXPECT_TRUE(same_bits(e, kMissingResult));
    EXPECT_EQ(F.request.near_perfect_fit, 1);
  }
}

// Regressors that are all zero contribute nothing: every pivot is refused,
// the coefficients are 0 and each residual is y itself.
TEST(Regression, ZeroRegressorsLeaveResidualEqualToY) {
  Panel P(1, 9, 2, 0);
  fill_random(P, 5);
  make_collinear(P, {2, 0, {0, 1}, {}, {}});
  Fit F(P);
  F.section(1);
  EXPECT_EQ(F.coefficients, (std::vector<double>{0.0, 0.0}));
  for (int t = 1; t <= 9; ++t) EXPECT_TRUE(same_bits(F.residual(1, t), P.at(1, t, 2)));
}

// Two points 1 +- d about their mean leave a residual sum of squares 2 d^2:
// 8e-6 is below the threshold, 1.8e-5 is not. Once set the flag stays set.
TEST(Regression, NearPerfectFitIsSetAndNeverCleared) {
  const double spread[] = {0.003, 0.002, 0.003, 0.0};
  const int expected[] = {0, 1, 1, 1};
  Panel P(4, 2, 0, 1);
  for (int i = 1; i <= 4; ++i) P.at(i, 1, 0) = 1 + spread[i - 1], P.at(i, 2, 0) = 1 - spread[i - 1];
  Fit F(P);
  for (int i = 1; i <= 4; ++i) {
    F.section(i);
    EXPECT_EQ(F.request.near_perfect_fit, expected[i - 1]) << "section " << i;
  }
  // An exact line through integer data sets it on its own.
  Panel Q(1, 10, 1, 1);
  for (int t = 1; t <= 10; ++t) Q.at(1, t, 0) = t, Q.at(1, t, 1) = 3 - 2.0 * t;
  Fit G(Q);
  G.section(1);
  EXPECT_EQ(G.request.near_perfect_fit, 1);
  EXPECT_NEAR(G.coefficients[1], -2.0, 1e-13);
  // A flag the host left set survives a noisy fit.
  Panel R(1, 12, 2, 1);
  fill_random(R, 2);
  Fit H(R);
  H.request.near_perfect_fit = 1;
  H.section(1);
  EXPECT_EQ(H.request.near_perfect_fit, 1);
}

// A NaN that is not a missing value reaches the fit: the residual sum of
// squares is NaN, which neither traps nor sets the flag.
TEST(Regression, NaNResidualSumDoesNotSetTheFlag) {
  Panel P(1, 8, 2, 1);
  fill_random(P, 17);
  P.at(1, 5, 2) = std::numeric_limits<double>::quiet_NaN();
  testing::FaultRecorder faults;
  Fit F(P);
  F.section(1);
  EXPECT_TRUE(std::isnan(F.sscp.back()));
  EXPECT_EQ(F.request.near_perfect_fit, 0);
  EXPECT_TRUE(faults.codes().empty());
  for (double e : F.residuals) EXPECT_TRUE(std::isnan(e) && !is_missing(e));
}

}  // namespace
}  // namespace qvd
