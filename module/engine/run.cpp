#include "engine/run.h"

#include <cstdint>

#include "engine/pairwise.h"
#include "engine/regression.h"

namespace qvd {
namespace {

// The module's counts, widened once they are known to be sound.
struct Dimensions {
  std::int32_t sections;     // N
  std::int32_t periods;      // T
  std::int32_t coefficients; // K + c
  std::int32_t order;        // m = K + c + h + 1
};

Dimensions dimensions_of(const DependenceRequest &r) {
  const std::int32_t coefficients = r.n_regressors + r.n_intercept;
  return {r.n_sections, r.n_periods, coefficients,
          coefficients + r.n_restrictions + 1};
}

void *take(HostPool *pool, std::uint64_t bytes) {
  return pool->alloc(pool, bytes, QVDEP_ALLOC_FLAGS);
}

template <class T>
void give_back(HostPool *pool, T *&field) {
  if (field != nullptr) {
    pool->free(pool, field);
    field = nullptr;
  }
}

}  // namespace

bool request_is_valid(const DependenceRequest &r) {
  const std::int64_t n = r.n_sections, t = r.n_periods, k = r.n_regressors,
                     c = r.n_intercept, h = r.n_restrictions;
  if (!qvdep_dimensions_fit(n, t, k, c, h)) return false;
  // N*T < 2^31 and K + 1 <= 2^31, so the count of panel values fits.
  if (r.panel == nullptr && n * t * (k + 1) > 0) return false;
  if (h >= 1 && (r.restriction_rhs == nullptr || r.restriction_coef == nullptr))
    return false;
  return true;
}

std::int32_t run(TestInstance *instance, DependenceRequest *request) {
  if (!request_is_valid(*request)) return QVDEP_RUN_INVALID_REQUEST;
  DependenceRequest &r = *request;
  HostPool *pool = instance->pool;
  const Dimensions d = dimensions_of(r);
  // The products are formed in 32 bits (known not to overflow) and halved
  // before they are widened for the byte counts.
  const std::uint64_t packed_cells = d.order * (d.order + 1) / 2;
  const std::uint64_t residual_cells = d.sections * d.periods;
  const std::uint64_t correlation_cells = d.sections * (d.sections + 1) / 2;
  const std::uint64_t kc = static_cast<std::uint64_t>(d.coefficients);
  const std::uint64_t swept = static_cast<std::uint64_t>(d.order) - 1;

  // Taken in this order; a refusal returns at once and leaves what was taken
  // in the pool and in the fields.
  void *block = take(pool, 8 * kc + 8);
  if (block == nullptr) return QVDEP_RUN_POOL_REFUSED;
  r.row = static_cast<double *>(block);
  if ((block = take(pool, 8 * swept + 8)) == nullptr) return QVDEP_RUN_POOL_REFUSED;
  r.sweep_work = static_cast<double *>(block);
  if ((block = take(pool, swept + 1)) == nullptr) return QVDEP_RUN_POOL_REFUSED;
  r.pivot_flags = static_cast<char *>(block);
  if ((block = take(pool, 8 * packed_cells)) == nullptr) return QVDEP_RUN_POOL_REFUSED;
  r.sscp = static_cast<double *>(block);
  if ((block = take(pool, 8 * packed_cells)) == nullptr) return QVDEP_RUN_POOL_REFUSED;
  r.sscp_saved = static_cast<double *>(block);
  auto *residuals = static_cast<double *>(take(pool, 8 * residual_cells));
  if (residuals == nullptr) return QVDEP_RUN_POOL_REFUSED;
  auto *coefficients = static_cast<double *>(take(pool, 8 * kc));
  if (coefficients == nullptr) return QVDEP_RUN_POOL_REFUSED;
  if ((block = take(pool, 8 * correlation_cells)) == nullptr) return QVDEP_RUN_POOL_REFUSED;
  r.correlations = static_cast<double *>(block);

  r.intercept_copy = r.n_intercept;
  // The residuals are kept period-major (T rows of N): the pairwise stage
  // reads the residuals of many partners at one period together.
  for (std::int32_t section = 1; section <= d.sections; ++section)
    regress_cross_section(r, section, coefficients,
                                  residuals + (section - 1), d.sections);
  pairwise_statistics(r, residuals);

  // The correlations stay with the host.
  give_back(pool, r.sscp);
  give_back(pool, r.sscp_saved);
  give_back(pool, r.row);
  give_back(pool, r.sweep_work);
  give_back(pool, r.pivot_flags);
  pool->free(pool, coefficients);
  pool->free(pool, residuals);
  return QVDEP_RUN_OK;
}

}  // namespace qvd
