#include "analysis/stats/bias_adjusted_lm.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <limits>
#include <numeric>
#include <string>
#include <utility>
#include <vector>

#include "analysis/stats/tail_probability.h"
#include "qvdep.h"
#ifdef QVDEP_HAVE_LAPACK
#include "analysis/common/not_a_number.h"
#include "analysis/linalg/dot_products.h"
#include "analysis/linalg/lapack_routines.h"
#include "analysis/linalg/vector_clones.h"
#include "analysis/linalg/work_vector.h"
#endif

namespace qvd::analysis {
namespace {


BiasAdjustedLm refused(std::string reason) { return not_available(std::move(reason)); }

// LM_adj = sqrt(2/(N(N-1))) [sum_{i<j} rho_ij^2 (T-k)/v_ij - sum_{i<j} mu_ij/v_ij].
BiasAdjustedLm adjusted_lm(double scaled_squares, double centre, std::size_t sections) {
  const double n = static_cast<double>(sections);
  const double statistic = std::sqrt(2.0 / (n * (n - 1))) * (scaled_squares - centre);
  return {true, "", statistic, normal_upper_tail(statistic)};
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
  WorkVector<double> tau(ks);
  std::vector<double> norms(ks);
  lapack_int lwork = -1, info = 0;
  double query = 0;
  call_lapack<qvdep_dgeqrf>(&t, &k, q.data(), &t, tau.data(), &query, &lwork, &info);
  double query2 = 0;
  call_lapack<qvdep_dorgqr>(&t, &k, &k, q.data(), &t, tau.data(), &query2, &lwork, &info);
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
    call_lapack<qvdep_dgeqrf>(&t, &k, a, &t, tau.data(), work.data(), &lwork, &info);
    for (std::size_t c = 0; c < ks; ++c)
      if (!(std::fabs(a[c * ts + c]) > kRankTolerance * norms[c])) return i;
    call_lapack<qvdep_dorgqr>(&t, &k, &k, a, &t, tau.data(), work.data(), &lwork, &info);
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

// What the bands rest on, once start()'s first task has formed it.
struct BiasAdjustedLmBands::Model {
  Model(const host::Panel &p, bool with_intercept, int h, std::size_t early_bytes)
      : panel(p), intercept(with_intercept), restrictions(h), early_weight_bytes(early_bytes) {}

  const host::Panel &panel;
  bool intercept;
  int restrictions;
  std::size_t early_weight_bytes;
  bool blas_only = false;

  bool available = false;
  std::string reason;
  std::size_t n = 0, t = 0, k = 0;  // k: regressors, the intercept apart
  double dof = 0, a1 = 0, a2 = 0, base = 0;
  double constant_scale = 0, constant_centre = 0;  // without regressors
#ifdef QVDEP_HAVE_LAPACK
  WorkVector<double> q;  // the stacked bases
#endif
  bool kernel = false;   // products by the dot-product kernel
  std::size_t band_rows = 0, bands = 0, early_bands = 0;
  std::vector<double> early_scales;  // of the pairs of the early bands' rows
  std::vector<double> centres;       // sum mu_ij/v_ij of each band

  std::size_t first_row(std::size_t band) const { return std::min(n, band * band_rows); }
  // Pairs (i, j), i < j, of the rows before row i: i (2N - i - 1)/2.
  std::size_t first_pair(std::size_t row) const { return row * (2 * n - row - 1) / 2; }
  std::size_t band_pairs(std::size_t b) const {
    return first_pair(first_row(b + 1)) - first_pair(first_row(b));
  }

  void form();
  double form_band(std::size_t band, double *scales) const;
};

// The moments' constants and the bases; the refusals that need no rho.
void BiasAdjustedLmBands::Model::form() {
  const int ni = panel.sections, ti = panel.periods;
  const int shared = intercept ? 1 : 0, ki = panel.regressors + shared;
  auto refuse = [&](std::string why) { reason = std::move(why); };
  if (ni < 2) return refuse("fewer than two cross-sections");
  if (restrictions > 0) return refuse("restrictions change the residual projections");
  if (ti - ki <= 4) return refuse("T - k = " + std::to_string(ti - ki) + " (needs more than 4)");
  for (const double v : panel.values)
    if (qvdep_is_missing(v)) return refuse("the panel is unbalanced");
#ifndef QVDEP_HAVE_LAPACK
  return refuse("built without LAPACK");
#else
  const long deficient = stacked_bases(panel, intercept, q);
  if (deficient >= 0)
    return refuse("the regressors of cross-section " + std::to_string(deficient + 1) +
                  " are linearly dependent");
  n = static_cast<std::size_t>(ni);
  t = static_cast<std::size_t>(ti);
  k = static_cast<std::size_t>(panel.regressors);
  dof = ti - ki;
  const double ratio = ((dof - 8) * (dof + 2) + 24) / ((dof + 2) * (dof - 2) * (dof - 4));
  a2 = 3.0 * ratio * ratio;
  a1 = a2 - 1.0 / (dof * dof);
  // The shared intercept contributes 1 to both norms.
  base = ti - 2.0 * ki + shared;
  if (k == 0) {  // the intercept alone: every M_i is the same centring
    const double v = std::sqrt(base * base * a1 + 2.0 * base * a2);
    constant_scale = dof / v;
    for (std::size_t p = 0; p < n * (n - 1) / 2; ++p) constant_centre += base / dof / v;
  }
  band_rows = std::clamp<std::size_t>(kBandDoubles / (std::max<std::size_t>(k, 1) *
                                                      std::max<std::size_t>(k, 1) * n),
                                      1, n);
  bands = (n + band_rows - 1) / band_rows;
  while (early_bands < bands &&
         first_pair(first_row(early_bands + 1)) * sizeof(double) <= early_weight_bytes)
    ++early_bands;
  early_scales.resize(first_pair(first_row(early_bands)));
  centres.assign(bands, 0.0);
  kernel = !blas_only && dot_products_available();
  available = true;
#endif
}

// The scales of band b's pairs in row order into `scales`, and the band's
// sum of mu_ij/v_ij (each partner's members summed first, the partners in
// order).
double BiasAdjustedLmBands::Model::form_band(std::size_t band, double *scales) const {
  if (k == 0) {
    std::fill_n(scales, band_pairs(band), constant_scale);
    return 0.0;  // the centre is constant_centre
  }
  double centre = 0;
#ifdef QVDEP_HAVE_LAPACK
  const std::size_t b0 = first_row(band), b1 = first_row(band + 1);
  // Pair (i, j), i < j, of the band at first_pair(i) - first_pair(b0) + j - i - 1.
  const std::size_t offset = first_pair(b0);
  auto scale_at = [&](std::size_t i, std::size_t j) { return first_pair(i) - offset + j - i - 1; };
  const std::size_t nb = b1 - b0, rows = nb * k;
  const std::size_t part_partners = partners_per_part(k);
  const std::size_t eights = (nb + 7) / 8 * 8;
  WorkVector<double> lhs(rows * t), part(rows * part_partners * k);
  DotProductPanels panels;
  std::vector<double> f2(eights), f4(eights), spare(k * k * 8), band_scales(nb), terms(nb);
  // G = Q_band' Q_j for the partners j0 <= j < j1, the band interleaved:
  // rows a nb + (i - b0), columns (j - j0) K + c.
  interleave_band(q.data() + b0 * k * t, t, k, nb, lhs.data());
  if (kernel) panels.pack(lhs.data(), rows, t);
  for (std::size_t j0 = b0 + 1; j0 < n; j0 += part_partners) {
    const std::size_t j1 = std::min(n, j0 + part_partners), width = (j1 - j0) * k;
    const double *partners = q.data() + j0 * k * t;
    if (kernel) {
      panels.multiply(partners, width, part.data(), rows);
    } else {
      const lapack_int m = static_cast<lapack_int>(rows), w = static_cast<lapack_int>(width),
                       ti = static_cast<lapack_int>(t);
      const double one = 1.0, zero = 0.0;
      call_lapack<qvdep_dgemm>("T", "N", &m, &w, &ti, &one, lhs.data(), &ti, partners, &ti, &zero,
                          part.data(), &m, std::size_t{1}, std::size_t{1});
    }
    // Partner by partner, every member i < j of the band at once.
    for (std::size_t j = j0; j < j1; ++j) {
      const std::size_t count = std::min(b1, j) - b0;
      block_norms(part.data() + (j - j0) * k * rows, k, rows, nb, count, f2.data(), f4.data(),
                  spare.data());
      pair_weights(f2.data(), f4.data(), count, base, dof, a1, a2, band_scales.data(),
                   terms.data());
      double partner = 0;
      for (std::size_t m = 0; m < count; ++m) {
        scales[scale_at(b0 + m, j)] = band_scales[m];
        partner += terms[m];
      }
      centre += partner;
    }
  }
#endif
  return centre;
}

BiasAdjustedLmBands::BiasAdjustedLmBands(const host::Panel &panel, bool intercept,
                                         int restrictions, std::size_t early_weight_bytes)
    : model_(std::make_unique<Model>(panel, intercept, restrictions, early_weight_bytes)) {}

BiasAdjustedLmBands::~BiasAdjustedLmBands() = default;

void BiasAdjustedLmBands::use_blas() { model_->blas_only = true; }

void BiasAdjustedLmBands::start(TaskGroup &group) {
  group.run([&group, m = model_.get()] {
    m->form();
    for (std::size_t b = 0; b < m->early_bands; ++b)
      group.run([m, b] {
        m->centres[b] = m->form_band(b, m->early_scales.data() + m->first_pair(m->first_row(b)));
      });
  });
}

std::size_t BiasAdjustedLmBands::early_rows() const {
  return model_->available ? model_->first_row(model_->early_bands) : 0;
}

const double *BiasAdjustedLmBands::early_scales() const { return model_->early_scales.data(); }

// Late bands are formed this many bytes of scales at a time (at least a
// band for every thread), then added in order while the pool is idle: at
// N = 10,000 and K = 2, eight bands of 26 rows, each some 36 ms of work
// on two threads against 3 ms to add up.
constexpr std::size_t kLateWeightBytes = std::size_t{16} << 20;

BiasAdjustedLm BiasAdjustedLmBands::finish(const PairTable &pairs, double early_sum,
                                           const StopFlag &stop) {
  Model &m = *model_;
  if (!m.available) return refused(m.reason);
  if (static_cast<std::size_t>(pairs.sections) != m.n)
    return refused("the pair table is of another panel");
  const BiasAdjustedLm unusable = refused("a pair of cross-sections could not be correlated");
  if (pairs.unusable > 0) return unusable;
  double sum = early_sum;
  PairRows rows(pairs);
  std::vector<double> scales;
  for (std::size_t b0 = m.early_bands; b0 < m.bands;) {
    stop.check();
    std::size_t b1 = b0 + 1;
    while (b1 < m.bands && (b1 - b0 < pool_threads() + 1 ||
                            (m.first_pair(m.first_row(b1 + 1)) - m.first_pair(m.first_row(b0))) *
                                    sizeof(double) <= kLateWeightBytes))
      ++b1;
    const std::size_t offset = m.first_pair(m.first_row(b0));
    scales.resize(m.first_pair(m.first_row(b1)) - offset);
    parallel_for(b1 - b0, [&](std::size_t c) {
      const std::size_t b = b0 + c;
      m.centres[b] = m.form_band(b, scales.data() + m.first_pair(m.first_row(b)) - offset);
    });
    const double *scale = scales.data();
    for (std::size_t i = m.first_row(b0); i < m.first_row(b1); ++i) {
      const double *rho = rows.row(i).rho;
      for (std::size_t j = i + 1; j < m.n; ++j) sum += scaled_square(*scale++, rho[j]);
    }
    b0 = b1;
  }
  if (std::isnan(sum)) return unusable;  // a correlation the module could not form
  double centre = m.constant_centre;
  for (const double c : m.centres) centre += c;
  return adjusted_lm(sum, centre, m.n);
}

BiasAdjustedLmWeights bias_adjusted_lm_weights(const host::Panel &panel, bool intercept,
                                               int restrictions, bool blas_only) {
  BiasAdjustedLmBands::Model m(panel, intercept, restrictions, 0);
  m.blas_only = blas_only;
  m.form();
  BiasAdjustedLmWeights w;
  w.sections = panel.sections;
  w.reason = m.reason;
  if (!m.available) return w;
  w.available = true;
  w.scale.resize(m.first_pair(m.n));
  w.centre = m.constant_centre;
  for (std::size_t b = 0; b < m.bands; ++b)
    w.centre += m.form_band(b, w.scale.data() + m.first_pair(m.first_row(b)));
  return w;
}

BiasAdjustedLm bias_adjusted_lm(const BiasAdjustedLmWeights &weights, const PairTable &pairs) {
  if (!weights.available) return refused(weights.reason);
  if (pairs.sections != weights.sections) return refused("the pair table is of another panel");
  const std::size_t n = static_cast<std::size_t>(weights.sections);
  double sum = 0;
  const double *scale = weights.scale.data();
  PairRows rows(pairs);
  for (std::size_t i = 0; i < n; ++i) {
    const double *rho = rows.row(i).rho;
    for (std::size_t j = i + 1; j < n; ++j) {
      if (std::isnan(rho[j])) return refused("a pair of cross-sections could not be correlated");
      sum += scaled_square(*scale++, rho[j]);
    }
  }
  return adjusted_lm(sum, weights.centre, n);
}

BiasAdjustedLm bias_adjusted_lm(const host::Panel &panel, bool intercept, int restrictions,
                                const PairTable &pairs) {
  return bias_adjusted_lm(bias_adjusted_lm_weights(panel, intercept, restrictions), pairs);
}

}  // namespace qvd::analysis
