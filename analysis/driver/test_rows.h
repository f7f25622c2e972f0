// The rows of a result's tests, named as the catalogue names them
// (test_kinds.h), each with the library's p-value or the reason it is not
// available.
#ifndef QVDEP_ANALYSIS_DRIVER_TEST_ROWS_H
#define QVDEP_ANALYSIS_DRIVER_TEST_ROWS_H

#include <string>

#include "analysis/result/result.h"
#include "analysis/result/test_kinds.h"
#include "analysis/stats/cd_star.h"
#include "analysis/stats/rank_tests.h"
#include "analysis/stats/statistic.h"
#include "analysis/stats/unbalanced_cd.h"

namespace qvd::analysis {

// A row with the library's p-value, or "not available" with the reason.
TestRow test_row(TestKind kind, double statistic, double pvalue, const PatternValues &values,
                 std::string unavailable = "");

// The module's LM, scaled LM, CD and CD(p), with p-values the library forms
// from its statistics: the module's own are 1 - Phi and 1 - P, which keep
// no relative precision in the tails (they stay as it returned them in
// r.module).
void add_module_rows(Result &r);

// plm's block over a model's residuals, with plm's definitions (centred
// correlations, M pairs): LM, scaled LM (upper tail), LM_BC when given, CD,
// and the local statistics: CD(p) over a band, or LM, scaled LM and CD
// over the neighbours of a proximity matrix.
void add_plm_rows(Result &r, const UnbalancedBlock &block, const Statistic *lm_bc);

// Pesaran's definitions for unbalanced panels beside the module's rows.
void add_unbalanced_rows(Result &r, const UnbalancedBlock &block);

// The weighted CD and CDw+ (from the result's figures), LM_adj and CD*;
// `misfit` says why CD*'s factors do not fit the panel, if they do not.
void add_beyond_rows(Result &r, const Statistic &adjusted, const CdStar &star,
                     std::string misfit);

// Friedman's and Frees' rank tests, and what the result keeps of them: the
// periods their ranks are over (the rows say so when some cross-section
// lacks one of the panel's) and Frees' critical values.
void add_rank_rows(Result &r, const RankTests &ranks);

}  // namespace qvd::analysis

#endif
