// Linear restrictions on the coefficients of every cross-section's equation,
// written as text: "value + capital = 0.2", "2*value - capital = 0",
// "const = 1.5*value". Each side is a sum of terms, a term being a number,
// a variable name, or a number times a name ("2*value" or "2 value"); the
// name const stands for the intercept. Moving everything onto the left
// gives one row sum_s a_s beta_s = b of the module's restriction arrays.
#ifndef QVDEP_ANALYSIS_INPUT_RESTRICTION_H
#define QVDEP_ANALYSIS_INPUT_RESTRICTION_H

#include <string>
#include <vector>

namespace qvd::analysis {

struct Restriction {
  std::vector<double> coefficients;  // K + c: the intercept first when c = 1
  double rhs = 0;
};

// Throws InputError for a malformed equation, an unknown name, const in a
// model without intercept, or an equation that involves no coefficient.
Restriction parse_restriction(const std::string &text,
                              const std::vector<std::string> &regressors,
                              bool intercept);

}  // namespace qvd::analysis

#endif
