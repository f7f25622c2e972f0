// The dependence test as one call: a long-format panel (or one already laid
// out in an array) and options in, one result record (result.h) out. The
// module is loaded and driven through its binary interface by the reference
// host; every figure the module computes is kept as it wrote it, and the
// library adds what follows from the module's outputs and the data:
//
//  - the panel's shape: complete observations, pairs of cross-sections that
//    could be correlated (both residual sums of squares over the common
//    periods above 1e-12 and at least one common period) and those that
//    could not; the average and the average absolute residual correlation;
//  - every test row's p-value, formed from its statistic with a complement
//    that keeps full relative precision far into the tail
//    (tail_probability.h); the module's own p-values, 1 - Phi and 1 - P,
//    stay as it returned them in `module`;
//  - the weighted CD of Juodis and Reese (2022) over one or more draws of
//    random signs, and its power-enhanced form CDw+ (weighted_cd.h);
//  - the bias-adjusted LM of Pesaran, Ullah and Yamagata (2008)
//    (bias_adjusted_lm.h) and the CD* of Pesaran and Xie (2021), with p
//    factors taken out (cd_star.h);
//  - Pesaran's definitions for unbalanced panels, as R's plm computes them
//    (unbalanced_cd.h), whenever a residual is missing or on request.
//
// Which pairs were usable is not in the correlations block (an unusable
// pair's cell holds a raw sum), so the host keeps the residual block when
// the module gives it back, and the sums are formed again from it in the
// module's order. The correlation block itself becomes the result's: the
// host hands it over as it lies, packed, and it is made over in place.
//
// A model that leaves nothing to test (one cross-section, no cross-section
// with more complete periods than coefficients, no pair that could be
// correlated) is refused with a reason rather than reported. Nothing is
// printed. Failures are thrown as the types of errors.h.
#ifndef QVDEP_ANALYSIS_DRIVER_ANALYSIS_H
#define QVDEP_ANALYSIS_DRIVER_ANALYSIS_H

#include <string>

#include "analysis/common/stop_flag.h"
#include "analysis/input/long_panel.h"
#include "analysis/layout/wide_panel.h"
#include "analysis/result/result.h"

namespace qvd::analysis {

// Lays the panel out for the module, runs it and derives the figures above.
// Throws InputError, FloatingPointFault or ModuleError. Several threads may
// run analyses at once: they share the module's one host (shared_host.h),
// each on its own test instance, and a fault is reported to the thread whose
// run raised it.
//
// `stop` (stop_flag.h) lets another thread end the analysis early: it
// throws Interrupted at its next look at the flag.
Result run_analysis(const LongPanel &data, const Options &options, const StopFlag &stop = {});

// The same, letting the rows go once the panel is laid out (a large
// panel's columns then do not stay beside the module's buffers).
Result run_analysis(LongPanel &&data, const Options &options, const StopFlag &stop = {});

// The same for a panel already laid out in a caller's array (a binding's
// (N, T, K + 1) array): no rows to gather, and figures identical to the bit
// to those of the same panel in long format.
Result run_analysis(const ArrayPanel &data, const Options &options, const StopFlag &stop = {});

// The module's version as its version record reports it (the release text
// of the record's first slot).
std::string module_version(const std::string &module_path = "");

}  // namespace qvd::analysis

#endif
