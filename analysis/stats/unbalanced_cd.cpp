#include "analysis/stats/unbalanced_cd.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <limits>
#include <string>
#include <vector>

#include "analysis/common/errors.h"
#include "analysis/common/not_a_number.h"
#include "analysis/common/task_group.h"
#include "analysis/linalg/vector_clones.h"
#include "analysis/stats/tail_probability.h"
#include "qvdep.h"

namespace qvd::analysis {
namespace {

// Centred sum of squares counted as zero, relative to the uncentred one.
constexpr double kNoVariation = 1e-24;

// The masked residuals (pair_statistics.h) of N rows of T, period by period.
MaskedResiduals period_major(const double *rows, std::size_t n, std::size_t t) {
  std::vector<double> periods(n * t);
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t s = 0; s < t; ++s) periods[s * n + i] = rows[i * t + s];
  return masked_residuals(periods.data(), n, t);
}

// One period's terms of pass 1 for `width` partners: residual a of the
// cross-section, the partners' masked residuals b and their mask m.
QVDEP_VECTOR_CLONES
void add_sums(double a, const double *__restrict b, const double *__restrict m, std::size_t width,
              double *__restrict count, double *__restrict sum_a, double *__restrict sum_b) {
  for (std::size_t j = 0; j < width; ++j) {
    count[j] += m[j];
    sum_a[j] += a * m[j];
    sum_b[j] += b[j];
  }
}

// One period's terms of pass 2.
QVDEP_VECTOR_CLONES
void add_centred_sums(double a, const double *__restrict b, const double *__restrict m,
                      std::size_t width, const double *__restrict mean_a,
                      const double *__restrict mean_b, double *__restrict saa,
                      double *__restrict sbb, double *__restrict sab, double *__restrict raw_aa,
                      double *__restrict raw_bb) {
  const double a2 = a * a;
  for (std::size_t j = 0; j < width; ++j) {
    const double da = a - mean_a[j], db = (b[j] - mean_b[j]) * m[j];
    saa[j] += da * da * m[j];
    sbb[j] += db * db;
    sab[j] += da * db;
    raw_aa[j] += a2 * m[j];
    raw_bb[j] += b[j] * b[j];
  }
}

// rho~ of a cross-section with a range of partners, and their common
// periods. For each pair this is
//   pass 1: the two means over the common periods;
//   pass 2: sum (a - m_a)^2, sum (b - m_b)^2, sum (a - m_a)(b - m_b), and
//           the uncentred sum a^2 and sum b^2 (for the no-variation test),
// each a sum over the common periods in period order, formed across all
// partners at once on the masked residuals. Every term is the same product
// with the two cross-sections' roles swapped (a product, and a sum that
// starts at +0 and gets +0 or -0 for a period not shared, are the same
// either way), so rho~_ij has the same bits whether i or j is the one.
class CentredCorrelations {
 public:
  // `masked`: period_major(residuals, n, t), which may be shared.
  CentredCorrelations(const double *residuals, const MaskedResiduals &masked,
                      std::size_t n, std::size_t t)
      : rows_(residuals), p_(masked), n_(n), t_(t) {}

  // rho[k] and common[k] for partner j0 + k of cross-section i, j0 <= j <
  // j1 (rho NaN where rho~ does not exist), a block of partners at a time,
  // whose running sums stay in the first-level cache.
  template <typename Count>
  void of(std::size_t i, std::size_t j0, std::size_t j1, double *rho, Count *common) {
    for (std::size_t b0 = j0; b0 < j1; b0 += kBlock) {
      const std::size_t b1 = std::min(j1, b0 + kBlock);
      of_block(i, b0, b1);
      for (std::size_t k = 0; k < b1 - b0; ++k) {
        rho[b0 - j0 + k] = rho_[k];
        common[b0 - j0 + k] = static_cast<Count>(count_[k]);
      }
    }
  }

 private:
  static constexpr std::size_t kBlock = 256;

  void of_block(std::size_t i, std::size_t j0, std::size_t j1) {
    const std::size_t width = j1 - j0;
    for (auto *v : {&count_, &sum_a_, &sum_b_, &saa_, &sbb_, &sab_, &raw_aa_, &raw_bb_})
      std::fill_n(v->begin(), width, 0.0);
    const double *a = &rows_[i * t_];
    for (std::size_t s = 0; s < t_; ++s) {
      if (qvdep_is_missing(a[s])) continue;
      add_sums(a[s], &p_.values[s * n_ + j0], &p_.present[s * n_ + j0], width, count_.data(),
               sum_a_.data(), sum_b_.data());
    }
    for (std::size_t j = 0; j < width; ++j) {
      const bool two = count_[j] >= 2;
      mean_a_[j] = two ? sum_a_[j] / count_[j] : 0.0;
      mean_b_[j] = two ? sum_b_[j] / count_[j] : 0.0;
    }
    for (std::size_t s = 0; s < t_; ++s) {
      if (qvdep_is_missing(a[s])) continue;
      add_centred_sums(a[s], &p_.values[s * n_ + j0], &p_.present[s * n_ + j0], width,
                       mean_a_.data(), mean_b_.data(), saa_.data(), sbb_.data(), sab_.data(),
                       raw_aa_.data(), raw_bb_.data());
    }
    for (std::size_t j = 0; j < width; ++j)
      rho_[j] = count_[j] < 2 || saa_[j] <= kNoVariation * raw_aa_[j] ||
                        sbb_[j] <= kNoVariation * raw_bb_[j]
                    ? kNaN
                    : sab_[j] / std::sqrt(saa_[j] * sbb_[j]);
  }

  using Block = std::array<double, kBlock>;
  const double *rows_;
  const MaskedResiduals &p_;
  std::size_t n_, t_;
  Block count_, sum_a_, sum_b_, mean_a_, mean_b_, saa_, sbb_, sab_, raw_aa_, raw_bb_, rho_;
};

// The sums of one set of pairs, in the order the pairs are added.
struct Sums {
  double lm = 0, scaled = 0, cd = 0, sum = 0, sum_abs = 0;
  void add(UnbalancedDependence &r, double rho, double tij) {
    if (std::isnan(rho)) {
      ++r.omitted_pairs;
      return;
    }
    ++r.pairs;
    lm += tij * rho * rho;
    scaled += tij * rho * rho - 1.0;
    cd += std::sqrt(tij) * rho;
    sum += rho;
    sum_abs += std::fabs(rho);
  }
  void finish(UnbalancedDependence &r) const {
    if (r.pairs == 0) {
      r.lm = r.lm_pvalue = r.scaled_lm = r.scaled_lm_pvalue = r.scaled_lm_upper_pvalue = kNaN;
      r.cd = r.cd_pvalue = r.mean_correlation = r.mean_abs_correlation = kNaN;
      return;
    }
    const double m = static_cast<double>(r.pairs);
    r.lm = lm;
    r.lm_pvalue = chi2_upper_tail(lm, m);
    r.scaled_lm = std::sqrt(1.0 / (2.0 * m)) * scaled;
    r.scaled_lm_pvalue = normal_two_sided(r.scaled_lm);
    r.scaled_lm_upper_pvalue = normal_upper_tail(r.scaled_lm);
    r.cd = std::sqrt(1.0 / m) * cd;
    r.cd_pvalue = normal_two_sided(r.cd);
    r.mean_correlation = sum / m;
    r.mean_abs_correlation = sum_abs / m;
  }
};

// The local pairs must be among the panel's cross-sections.
void check_neighbours(const Neighbours &local, std::size_t n) {
  if (local.sections() != n)
    throw InputError("the neighbours are of " + std::to_string(local.sections()) +
                     " cross-sections; the residuals of " + std::to_string(n));
}

// Where each chunk of about `pairs` pairs starts, when line k (a row or a
// column of the triangle) holds pairs_of(k) pairs: chunk c holds lines
// starts[c] .. starts[c + 1] - 1.
template <typename PairsOf>
std::vector<std::size_t> chunk_starts(std::size_t n, std::size_t pairs, const PairsOf &pairs_of) {
  std::vector<std::size_t> starts{0};
  for (std::size_t k = 0, held = 0; k < n; ++k) {
    held += pairs_of(k);
    if (held >= pairs || k + 1 == n) {
      starts.push_back(k + 1);
      held = 0;
    }
  }
  return starts;
}

}  // namespace

// Pairs are formed in chunks of about this many: unbalanced_block's rows of
// them (their correlations and common periods: 4 MB), a few chunks at a
// time on the pool, added in order as each few are done; the pair table's
// columns, every chunk at once, each written where it lies in the table.
constexpr std::size_t kChunkPairs = std::size_t{1} << 18;

UnbalancedBlock unbalanced_block(const double *residuals, int sections, int periods,
                                 int max_distance, const StopFlag &stop) {
  if (max_distance < 1)
    throw InputError("the distance of the local CD must be 1 or more, not " + std::to_string(max_distance));
  return unbalanced_block(residuals, sections, periods,
                          Neighbours::band(static_cast<std::size_t>(sections > 0 ? sections : 0),
                                           max_distance),
                          stop);
}

UnbalancedBlock unbalanced_block(const double *residuals, int sections, int periods,
                                 const Neighbours &local, const StopFlag &stop) {
  const std::size_t n = static_cast<std::size_t>(sections > 0 ? sections : 0);
  const std::size_t t = static_cast<std::size_t>(periods > 0 ? periods : 0);
  check_neighbours(local, n);
  const MaskedResiduals masked = period_major(residuals, n, t);
  const std::vector<std::size_t> starts =
      chunk_starts(n, kChunkPairs, [n](std::size_t i) { return n - i - 1; });
  const std::size_t chunks = starts.size() - 1;
  // A chunk's pairs in row order: each row's partners j > i in turn.
  struct Chunk {
    std::vector<double> rho, common;
  };
  const std::size_t batch = 2 * (pool_threads() + 1);
  std::vector<Chunk> formed(batch);
  UnbalancedBlock r;
  Sums all, near;
  for (std::size_t c0 = 0; c0 < chunks; c0 += batch) {
    stop.check();
    const std::size_t c1 = std::min(chunks, c0 + batch);
    parallel_for(c1 - c0, [&](std::size_t c) {
      Chunk &chunk = formed[c];
      chunk.rho.clear();
      chunk.common.clear();
      CentredCorrelations pairs(residuals, masked, n, t);
      std::vector<double> rho(n), common(n);
      for (std::size_t i = starts[c0 + c]; i < starts[c0 + c + 1]; ++i) {
        pairs.of(i, i + 1, n, rho.data(), common.data());
        chunk.rho.insert(chunk.rho.end(), rho.begin(), rho.begin() + static_cast<std::ptrdiff_t>(n - i - 1));
        chunk.common.insert(chunk.common.end(), common.begin(),
                            common.begin() + static_cast<std::ptrdiff_t>(n - i - 1));
      }
    });
    for (std::size_t c = 0; c < c1 - c0; ++c) {
      const double *rho = formed[c].rho.data(), *common = formed[c].common.data();
      for (std::size_t i = starts[c0 + c]; i < starts[c0 + c + 1]; ++i)
        for (std::size_t j = i + 1; j < n; ++j, ++rho, ++common) {
          all.add(r.all, *rho, *common);
          if (local.contains(i, j)) near.add(r.local, *rho, *common);
        }
    }
  }
  all.finish(r.all);
  near.finish(r.local);
  return r;
}

UnbalancedDependence unbalanced_dependence(const double *residuals, int sections,
                                           int periods, int max_distance) {
  return unbalanced_block(residuals, sections, periods, max_distance).local;
}

PairTable centred_pair_table(const double *residuals, int sections, int periods,
                             const StopFlag &stop) {
  const std::size_t n = static_cast<std::size_t>(sections > 0 ? sections : 0);
  const std::size_t t = static_cast<std::size_t>(periods > 0 ? periods : 0);
  PairTable table;
  table.sections = static_cast<int>(n);
  table.periods = static_cast<int>(t);
  table.correlations = host::OwnedArray<double>(packed_cells(n));
  const bool gaps = std::any_of(residuals, residuals + n * t,
                                [](double e) { return qvdep_is_missing(e) != 0; });
  if (gaps) table.common_periods.assign(packed_cells(n), 0);
  const MaskedResiduals masked = period_major(residuals, n, t);
  // Column j of the packed triangles holds the pairs (i, j), i < j, side by
  // side: each is formed with cross-section j against its partners i < j.
  const std::vector<std::size_t> starts =
      chunk_starts(n, kChunkPairs, [](std::size_t j) { return j; });
  std::vector<long> usable(starts.size() - 1, 0);
  parallel_for(starts.size() - 1, [&](std::size_t c) {
    CentredCorrelations pairs(residuals, masked, n, t);
    std::vector<int> scratch(gaps ? 0 : n);  // common periods not kept
    for (std::size_t j = starts[c]; j < starts[c + 1]; ++j) {
      if (j % 64 == 0) stop.check();
      double *rho = &table.correlations[packed_index(0, j)];
      int *common = gaps ? &table.common_periods[packed_index(0, j)] : scratch.data();
      pairs.of(j, 0, j, rho, common);
      for (std::size_t i = 0; i < j; ++i) usable[c] += std::isnan(rho[i]) ? 0 : 1;
      rho[j] = 1.0;
      if (gaps)
        common[j] = static_cast<int>(std::count_if(&residuals[j * t], &residuals[(j + 1) * t],
                                                   [](double e) { return !qvdep_is_missing(e); }));
    }
  });
  for (const long u : usable) table.usable += u;
  table.unusable = static_cast<long>(n * (n > 0 ? n - 1 : 0) / 2) - table.usable;
  return table;
}

UnbalancedBlock plm_block(const PairTable &centred, const Neighbours &local) {
  const std::size_t n = static_cast<std::size_t>(centred.sections);
  check_neighbours(local, n);
  UnbalancedBlock r;
  Sums all, near;
  PairRows rows(centred);
  for (std::size_t i = 0; i < n; ++i) {
    const PairRow row = rows.row(i);
    for (std::size_t j = i + 1; j < n; ++j) {
      const double rho = row.rho[j], common = row.common(j);
      all.add(r.all, rho, common);
      if (local.contains(i, j)) near.add(r.local, rho, common);
    }
  }
  all.finish(r.all);
  near.finish(r.local);
  return r;
}

Statistic bias_corrected_scaled_lm(const UnbalancedDependence &over, const PairTable &centred) {
  const std::size_t n = static_cast<std::size_t>(centred.sections);
  double observed = 0;  // cross-sections with a residual
  for (std::size_t i = 0; i < n; ++i) observed += common_periods_of(centred, i, i) > 0 ? 1 : 0;
  const double most = most_common_periods(centred);
  if (over.pairs == 0) return not_available("no pair of cross-sections has a correlation");
  if (most < 2) return not_available("no cross-section has two periods");
  const double z = over.scaled_lm - observed / (2 * (most - 1));
  return {true, "", z, normal_upper_tail(z)};
}

}  // namespace qvd::analysis
