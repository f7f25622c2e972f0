// The dependence test as one call: a long-format panel and options in, one
// result record out. The module is loaded and driven through its binary
// interface by the reference host; every figure the module computes is kept
// as it wrote it, and the library adds what follows from the module's
// outputs and the data:
//
//  - the panel's shape: complete observations, pairs of cross-sections that
//    could be correlated (both residual sums of squares over the common
//    periods above 1e-12 and at least one common period) and those that
//    could not;
//  - the average and the average absolute residual correlation over the
//    usable pairs;
//  - the weighted CD of Juodis and Reese (2022): CD on the residuals
//    multiplied by independent random signs w_i, one per cross-section. A
//    sign changes no sum of squares and no common period, and turns rho_ij
//    into w_i w_j rho_ij, so CD_W = sqrt(2/(N(N-1))) sum_{i<j} sqrt(T_ij)
//    w_i w_j rho_ij over the usable pairs, two-sided normal;
//  - every test row's p-value, formed from its statistic with a complement
//    that keeps full relative precision far into the tail
//    (tail_probability.h); the module's own p-values, 1 - Phi and 1 - P,
//    stay as it returned them in `module`.
//
// Which pairs were usable is not in the correlations block (an unusable
// pair's cell holds a raw sum), so the host keeps the residual block when
// the module gives it back, and the sums are formed again from it in the
// module's order. The correlation block itself becomes the result's: the
// host hands it over as it lies, packed, and it is made over in place.
//
// Nothing is printed. Failures are thrown as the types of errors.h.
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
