// How strong the cross-sectional dependence is, for a result: the exponent
// alpha of the tested residuals (Bailey, Kapetanios and Pesaran 2019), from
// the pair table the driver has made, and that of a variable (2016), with
// the options' size, tuning, draws and seed (docs/strength.md).
#ifndef QVDEP_ANALYSIS_DRIVER_STRENGTH_H
#define QVDEP_ANALYSIS_DRIVER_STRENGTH_H

#include <string>

#include "analysis/linalg/work_vector.h"
#include "analysis/result/result.h"
#include "analysis/stats/pair_table.h"

namespace qvd::analysis {

// Throws InputError for a size outside (0, 1), a tuning outside (0, 1] or
// draws, when given, below 1.
void check_exponent_options(const Options &options);

// The residuals' exponent over the pairs of `pairs` that have a
// correlation, with the bootstrap over cross-sections when the options ask
// for draws (seeded by exponent_seed, or else by seed).
ResidualExponentSummary residual_exponent_of(const PairTable &pairs, const Options &options);

// The exponent of `series` (N rows of T, the variable `name`) and its
// standard error, the multiple test of size exponent_size; not available,
// with the reason, where the panel does not allow it (unbalanced, too few
// cross-sections or periods for its 4 principal components, a build without
// LAPACK).
VariableExponentSummary variable_exponent_of(const WorkVector<double> &series, int sections,
                                             int periods, std::string name,
                                             const Options &options);

}  // namespace qvd::analysis

#endif
