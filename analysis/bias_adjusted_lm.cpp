#include "analysis/bias_adjusted_lm.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <limits>
#include <numeric>
#include <string>
#include <utility>
#include <vector>

#include "qvdep.h"
#ifdef QVDEP_HAVE_LAPACK
#include "analysis/aligned_vector.h"
#include "analysis/dot_products.h"
#include "analysis/lapack_routines.h"
#include "analysis/vector_clones.h"
#include "host/huge_pages.h"
#endif

namespace qvd::analysis {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

BiasAdjustedLm refused(std::string reason) {
  return {false, std::move(reason), kNaN, kNaN};
}

#ifdef QVDEP_HAVE_LAPACK

// A column of X_i whose distance from the span of the columns before it is
// below this fraction of its length makes X_i rank-deficient.
constexpr double kRankTolerance = 1e-10;
// A band of Q'Q would hold about this many doubles (8 MB), at least one
// cross-section's rows; it is formed a part at a time.
constexpr std::size_t kBandDoubles = std::size_t{1} << 20;

// Partners whose products with a band are formed at a time: at most 256
// columns of products (or one partner's K), a whole number of the kernel's
// tiles where that fits, so that the part stays in the second-level cache
// between the kernel that writes it and the norms that read it (a whole
// band went out to memory and back).
std::size_t partners_per_part(std::size_t k) {
  constexpr std::size_t kColumns = 256;
  const std::size_t step = std::lcm(k, DotProductPanels::kVectorsPerTile) / k;  // whole tiles
  return step * k > kColumns ? 1 : kColumns / (step * k) * step;
}

// Orthonormal bases of every X_i but its intercept, stacked: T rows, N K
// columns, column-major. With an intercept the regressors are demeaned
// first, which leaves each basis orthogonal to the constant; the distance
// of a column from the span of those before it is the same either way, and
// is judged against the column's own length. Returns the first
// rank-deficient cross-section, or -1.
long stacked_bases(const host::Panel &panel, bool intercept, WorkVector<double> &q) {
  const lapack_int t = panel.periods, k = panel.regressors;
  const std::size_t ts = static_cast<std::size_t>(t), ks = static_cast<std::size_t>(k);
  q.resize(ts * ks * static_cast<std::size_t>(panel.sections));
  if (k == 0) return -1;
  const std::lock_guard<std::mutex> lapack(lapack_lock());
  WorkVector<double> tau(ks);
  std::vector<double> norms(ks);
  lapack_int lwork = -1, info = 0;
  double query = 0;
  qvdep_dgeqrf(&t, &k, q.data(), &t, tau.data(), &query, &lwork, &info);
  double query2 = 0;
  qvdep_dorgqr(&t, &k, &k, q.data(), &t, tau.data(), &query2, &lwork, &info);
  lwork = std::max<lapack_int>(
      {static_cast<lapack_int>(query), static_cast<lapack_int>(query2), k, 1});
  WorkVector<double> work(static_cast<std::size_t>(lwork));
  for (int i = 0; i < panel.sections; ++i) {
    double *a = q.data() + static_cast<std::size_t>(i) * ts * ks;
    const double *rows = panel.values.data() + static_cast<std::size_t>(i) * ts * (ks + 1);
    for (std::size_t c = 0; c < ks; ++c) {
      double *column = a + c * ts;
      double sum = 0, square = 0;
      for (std::size_t s = 0; s < ts; ++s) {
        column[s] = rows[s * (ks + 1) + c];
        sum += column[s];
        square += column[s] * column[s];
      }
      norms[c] = std::sqrt(square);
      if (intercept) {
        const double mean = sum / static_cast<double>(t);
        for (std::size_t s = 0; s < ts; ++s) column[s] -= mean;
      }
    }
    qvdep_dgeqrf(&t, &k, a, &t, tau.data(), work.data(), &lwork, &info);
    for (std::size_t c = 0; c < ks; ++c)
      if (!(std::fabs(a[c * ts + c]) > kRankTolerance * norms[c])) return i;
    qvdep_dorgqr(&t, &k, &k, a, &t, tau.data(), work.data(), &lwork, &info);
  }
  return -1;
}

// The bases of a band of cross-sections b0 .. b0 + nb - 1, reordered so
// that basis vector a of every member is adjacent to the same vector of the
// next: column a nb + m of `lhs` is column a of Q_{b0+m}. The products
// Q_band'Q_j then hold, for each entry of the blocks, the members one after
// another, and the norms below run down them as vectors.
void interleave_band(const double *q, std::size_t t, std::size_t k, std::size_t nb,
                     double *lhs) {
  for (std::size_t m = 0; m < nb; ++m)
    for (std::size_t a = 0; a < k; ++a)
      std::copy_n(q + (m * k + a) * t, t, lhs + (a * nb + m) * t);
}

// ||C||_F^2 and ||C'C||_F^2 of eight K-by-K blocks C at once: entry (a, c)
// of block m is g[c ld + a step + m]. C'C is symmetric, so its upper
// triangle suffices; each (C'C)_uv sums over a in order, and the norms over
// (u, v) in order. The eight blocks' sums are a vector of the compiler's,
// which each build holds in its own registers (one AVX-512, two AVX2, four
// SSE2) with the same operations on every element.
__attribute__((always_inline)) inline void eight_block_norms(const double *g, std::size_t k,
                                                             std::size_t ld, std::size_t step,
                                                             double *f2, double *f4) {
  typedef double Eight __attribute__((vector_size(8 * sizeof(double))));
  Eight two = {}, four = {};
  for (std::size_t u = 0; u < k; ++u)
    for (std::size_t v = u; v < k; ++v) {
      Eight s = {};  // (C'C)_uv: columns u and v of C
      for (std::size_t a = 0; a < k; ++a) {
        Eight cu, cv;
        std::memcpy(&cu, g + u * ld + a * step, sizeof cu);
        std::memcpy(&cv, g + v * ld + a * step, sizeof cv);
        s += cu * cv;
      }
      if (u == v) {
        two += s;
        four += s * s;
      } else {
        four += 2.0 * s * s;
      }
    }
  std::memcpy(f2, &two, sizeof two);
  std::memcpy(f4, &four, sizeof four);
}

// The same for `count` members of a band against one partner j: entry
// (a, c) of member m's block is g[c ld + a nb + m]. Members past the last
// whole eight are copied, zero-padded, into `spare` (K K 8 doubles) first,
// so that no block reads past the band; f2 and f4 hold `count` rounded up
// to eight.
QVDEP_VECTOR_CLONES
void block_norms(const double *g, std::size_t k, std::size_t ld, std::size_t nb,
                 std::size_t count, double *f2, double *f4, double *spare) {
  std::size_t m = 0;
  for (; m + 8 <= count; m += 8) eight_block_norms(g + m, k, ld, nb, f2 + m, f4 + m);
  if (m == count) return;
  std::fill_n(spare, k * k * 8, 0.0);
  for (std::size_t c = 0; c < k; ++c)
    for (std::size_t a = 0; a < k; ++a)
      std::copy_n(g + c * ld + a * nb + m, count - m, spare + (c * k + a) * 8);
  eight_block_norms(spare, k, k * 8, 8, f2 + m, f4 + m);
}

// (T-k)/v_ij and mu_ij/v_ij of `count` pairs from their norms f2 = ||C~||^2
// and f4 = ||C~'C~||^2: tr(M_i M_j) = base + f2, tr[(M_i M_j)^2] = base + f4.
// Apart from the loop over the block norms, these two divisions and a
// square root per pair are the bands' largest work; each pair's arithmetic
// is the same in every build, and square roots and quotients are correctly
// rounded at any vector width.
QVDEP_VECTOR_CLONES
void pair_weights(const double *__restrict f2, const double *__restrict f4, std::size_t count,
                  double base, double dof, double a1, double a2, double *__restrict scales,
                  double *__restrict terms) {
  for (std::size_t m = 0; m < count; ++m) {
    const double tr1 = base + f2[m], tr2 = base + f4[m];
    const double v = std::sqrt(tr1 * tr1 * a1 + 2.0 * tr2 * a2);
    scales[m] = dof / v;
    terms[m] = tr1 / dof / v;
  }
}

#endif

}  // namespace

// What the bands share once the bases are formed. Band b holds the
// cross-sections b nb .. (b + 1) nb - 1 against every partner after its
// first member; it writes their scales and the sum of their mu_ij/v_ij.
struct BiasAdjustedLmWork::Bands {
  std::atomic<bool> ready{false};   // the fields below are set
  std::atomic<std::size_t> next{0};  // the next band to take
  std::atomic<std::size_t> formed{0};  // bands whose scales and centre are written
  std::atomic<bool> ran{false};        // run() has returned
  bool kernel = false;  // products by the dot-product kernel, which may run on several threads
#ifdef QVDEP_HAVE_LAPACK
  WorkVector<double> q;  // the stacked bases
#endif
  std::size_t band_sections = 0, count = 0;
  double dof = 0, a1 = 0, a2 = 0, base = 0;
  std::vector<double> centre;  // of each band
};

#ifdef QVDEP_HAVE_LAPACK
// Takes bands until none is left. Each thread has its copy of the band's
// bases and its part of the band's products.
void BiasAdjustedLmWork::form_bands() {
  Bands &b = *bands_;
  if (b.next.load(std::memory_order_relaxed) >= b.count) return;  // none left to take
  const std::size_t ns = static_cast<std::size_t>(panel_.sections),
                    ts = static_cast<std::size_t>(panel_.periods),
                    ks = static_cast<std::size_t>(panel_.regressors);
  double *scale = weights_.scale.data();
  // Pair (i, j), i < j, sits at i (2N - i - 1)/2 + j - i - 1 of `scale`.
  auto scale_at = [ns](std::size_t i, std::size_t j) { return i * (2 * ns - i - 1) / 2 + j - i - 1; };
  WorkVector<double> lhs(b.band_sections * ks * ts), part;
  DotProductPanels panels;
  const std::size_t part_partners = partners_per_part(ks);
  const std::size_t eights = (b.band_sections + 7) / 8 * 8;
  std::vector<double> f2(eights), f4(eights), spare(ks * ks * 8), scales(b.band_sections),
      terms(b.band_sections);
  for (std::size_t index; (index = b.next.fetch_add(1)) < b.count;) {
    const std::size_t b0 = index * b.band_sections, b1 = std::min(ns, b0 + b.band_sections);
    const std::size_t nb = b1 - b0, rows = nb * ks;
    // G = Q_band' Q_j for the partners j0 <= j < j1, the band interleaved:
    // rows a nb + (i - b0), columns (j - j0) K + c.
    part.resize(rows * part_partners * ks);
    interleave_band(b.q.data() + b0 * ks * ts, ts, ks, nb, lhs.data());
    if (b.kernel) panels.pack(lhs.data(), rows, ts);
    double centre = 0;  // this band's mu/v, each partner's summed apart first
    for (std::size_t j0 = b0 + 1; j0 < ns; j0 += part_partners) {
      const std::size_t j1 = std::min(ns, j0 + part_partners), width = (j1 - j0) * ks;
      const double *partners = b.q.data() + j0 * ks * ts;
      if (b.kernel) {
        panels.multiply(partners, width, part.data(), rows);
      } else {
        const lapack_int m = static_cast<lapack_int>(rows), w = static_cast<lapack_int>(width),
                         t = static_cast<lapack_int>(ts);
        const double one = 1.0, zero = 0.0;
        const std::lock_guard<std::mutex> lapack(lapack_lock());
        qvdep_dgemm("T", "N", &m, &w, &t, &one, lhs.data(), &t, partners, &t, &zero, part.data(),
                    &m, 1, 1);
      }
      // Partner by partner, every member i < j of the band at once.
      for (std::size_t j = j0; j < j1; ++j) {
        const std::size_t count = std::min(b1, j) - b0;
        block_norms(part.data() + (j - j0) * ks * rows, ks, rows, nb, count, f2.data(),
                    f4.data(), spare.data());
        pair_weights(f2.data(), f4.data(), count, b.base, b.dof, b.a1, b.a2, scales.data(),
                     terms.data());
        double partner = 0;
        for (std::size_t m = 0; m < count; ++m) {
          scale[scale_at(b0 + m, j)] = scales[m];
          partner += terms[m];
        }
        centre += partner;
      }
    }
    b.centre[index] = centre;
    b.formed.fetch_add(1, std::memory_order_release);
  }
}
#endif

BiasAdjustedLmWork::BiasAdjustedLmWork(const host::Panel &panel, bool intercept, int restrictions)
    : panel_(panel), intercept_(intercept), restrictions_(restrictions),
      bands_(std::make_unique<Bands>()) {}

BiasAdjustedLmWork::~BiasAdjustedLmWork() = default;

void BiasAdjustedLmWork::run() {
  form_weights();
  bands_->ran.store(true, std::memory_order_release);
}

void BiasAdjustedLmWork::form_weights() {
  BiasAdjustedLmWeights &w = weights_;
  const host::Panel &panel = panel_;
  const int n = panel.sections, t = panel.periods;
  const int shared = intercept_ ? 1 : 0, k = panel.regressors + shared;
  w.sections = n;
  auto refuse = [&](std::string reason) { w.reason = std::move(reason); };
  if (n < 2) return refuse("fewer than two cross-sections");
  if (restrictions_ > 0) return refuse("restrictions change the residual projections");
  if (t - k <= 4) return refuse("T - k = " + std::to_string(t - k) + " (needs more than 4)");
  for (const double v : panel.values)
    if (qvdep_is_missing(v)) return refuse("the panel is unbalanced");
#ifndef QVDEP_HAVE_LAPACK
  return refuse("built without LAPACK");
#else
  Bands &b = *bands_;
  const long deficient = stacked_bases(panel, intercept_, b.q);
  if (deficient >= 0)
    return refuse("the regressors of cross-section " + std::to_string(deficient + 1) +
                  " are linearly dependent");

  const double dof = t - k;
  const double ratio = ((dof - 8) * (dof + 2) + 24) / ((dof + 2) * (dof - 2) * (dof - 4));
  const double a2 = 3.0 * ratio * ratio;
  const double a1 = a2 - 1.0 / (dof * dof);
  // The shared intercept contributes 1 to both norms.
  const double base = t - 2.0 * k + shared;

  const std::size_t ns = static_cast<std::size_t>(n);
  const std::size_t ks = static_cast<std::size_t>(panel.regressors);
  host::reserve_on_huge_pages(w.scale, ns * (ns - 1) / 2);
  w.scale.resize(ns * (ns - 1) / 2);
  if (ks == 0) {  // the intercept alone: every M_i is the same centring
    const double v = std::sqrt(base * base * a1 + 2.0 * base * a2);
    std::fill(w.scale.begin(), w.scale.end(), dof / v);
    for (std::size_t p = 0; p < w.scale.size(); ++p) w.centre += base / dof / v;
    w.available = true;
    return;
  }
  b.band_sections = std::clamp<std::size_t>(kBandDoubles / (ks * ks * ns), 1, ns);
  b.count = (ns + b.band_sections - 1) / b.band_sections;
  b.dof = dof;
  b.a1 = a1;
  b.a2 = a2;
  b.base = base;
  b.centre.assign(b.count, 0.0);
  b.kernel = !blas_only_ && dot_products_available();
  b.ready.store(true, std::memory_order_release);
  form_bands();
  w.available = true;
#endif
}

void BiasAdjustedLmWork::help() {
#ifdef QVDEP_HAVE_LAPACK
  if (bands_->ready.load(std::memory_order_acquire) && bands_->kernel) form_bands();
#endif
}

bool BiasAdjustedLmWork::formed() const {
  return bands_->ran.load(std::memory_order_acquire) &&
         (!bands_->ready.load(std::memory_order_acquire) ||
          bands_->formed.load(std::memory_order_acquire) == bands_->count);
}

BiasAdjustedLmWeights BiasAdjustedLmWork::take() {
  for (const double c : bands_->centre) weights_.centre += c;
  bands_->centre.clear();
  return std::move(weights_);
}

BiasAdjustedLmWeights bias_adjusted_lm_weights(const host::Panel &panel, bool intercept,
                                               int restrictions) {
  BiasAdjustedLmWork work(panel, intercept, restrictions);
  work.run();
  return work.take();
}

BiasAdjustedLm bias_adjusted_lm(const BiasAdjustedLmWeights &weights, const PairTable &pairs) {
  if (!weights.available) return refused(weights.reason);
  const int n = weights.sections;
  if (pairs.sections != n) return refused("the pair table is of another panel");
  const std::size_t ns = static_cast<std::size_t>(n);
  double sum = 0;
  const double *scale = weights.scale.data();
  for (std::size_t i = 0; i < ns; ++i) {
    const double *row = pairs.correlations.data() + i * ns;
    for (std::size_t j = i + 1; j < ns; ++j) {
      const double rho = row[j];
      if (std::isnan(rho)) return refused("a pair of cross-sections could not be correlated");
      sum += scaled_square(*scale++, rho);
    }
  }
  return bias_adjusted_lm(weights, sum);
}

BiasAdjustedLm bias_adjusted_lm(const BiasAdjustedLmWeights &weights, double scaled_squares) {
  if (!weights.available) return refused(weights.reason);
  const double n = weights.sections;
  const double statistic = std::sqrt(2.0 / (n * (n - 1))) * (scaled_squares - weights.centre);
  return {true, "", statistic, 0.5 * std::erfc(statistic / std::sqrt(2.0))};
}

BiasAdjustedLm bias_adjusted_lm(const host::Panel &panel, bool intercept, int restrictions,
                                const PairTable &pairs) {
  return bias_adjusted_lm(bias_adjusted_lm_weights(panel, intercept, restrictions), pairs);
}

}  // namespace qvd::analysis
