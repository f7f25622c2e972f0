// The catalogue of test kinds: one row for each, holding what every layer
// prints about it (the driver's test rows, the report's titles, the JSON's
// and Python's names), so that no layer keeps a list of its own.
//
// Names, titles and distributions are patterns: {p} stands for the local
// statistics' neighbours (the order p, or "w" for a proximity matrix), {k}
// for CD*'s factors, {r} for the weighted CD's draws (", 3 draws"; nothing
// for one), {df} for a chi-square's degrees of freedom and {t} for the
// periods the rank tests' law is over (pattern_values and filled below).
#ifndef QVDEP_ANALYSIS_RESULT_TEST_KINDS_H
#define QVDEP_ANALYSIS_RESULT_TEST_KINDS_H

#include <string>
#include <string_view>
#include <vector>

#include "analysis/result/result.h"

namespace qvd::analysis {

struct TestKindInfo {
  TestKind kind;
  std::string_view key;           // the JSON's "kind" and Python's key: "local_cd"
  std::string_view name;          // a test row's name: "CD({p})"
  std::string_view title;         // the report's: "local CD({p})"
  std::string_view distribution;  // "N(0,1) two-sided", "chi2({df})"
  std::string_view reference;     // where the statistic is defined
  // The Python result's attributes for the statistic and its p-value.
  std::string_view statistic_attribute, pvalue_attribute;
};

// Every kind, in the order a result lists its rows.
const std::vector<TestKindInfo> &test_kinds();
const TestKindInfo &test_kind(TestKind kind);

// What the patterns stand for.
struct PatternValues {
  std::string local = "1";  // {p}
  int factors = 0;          // {k}
  int draws = 1;            // {r}
  long long df = 0;         // {df}
  int periods = 0;          // {t}
};

// The values of a result's options for a row of `kind` (df 0: a row's own
// distribution says it). The module's CD(p) is over its band whatever
// neighbours were named: with each cross-section's own regression (model
// unit) only the unbalanced-panel block's local rows are over them.
PatternValues pattern_values(const Result &r, TestKind kind);

// `pattern` with its {p}, {k}, {r}, {df} and {t} filled in.
std::string filled(std::string_view pattern, const PatternValues &values);

}  // namespace qvd::analysis

#endif
