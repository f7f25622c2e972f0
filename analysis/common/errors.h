// What can go wrong in an analysis, as exception types that carry a
// one-line message meant for the user. Callers tell the kinds apart by type:
// the command-line tool maps them to exit statuses, a binding to its own
// exception classes.
#ifndef QVDEP_ANALYSIS_COMMON_ERRORS_H
#define QVDEP_ANALYSIS_COMMON_ERRORS_H

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>

namespace qvd::analysis {

// Base of everything the library throws on purpose.
class AnalysisError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The data or the options cannot be used: unknown column, a value that is
// not a finite number, duplicate (id, time) pairs, a malformed restriction,
// a panel past the module's size limits. The message names the file, line
// and column where there is one.
class InputError : public AnalysisError {
 public:
  using AnalysisError::AnalysisError;
};

// The module raised a floating-point fault during the run; the message
// names the fault. The run's figures are not reported.
class FloatingPointFault : public AnalysisError {
 public:
  using AnalysisError::AnalysisError;
};

// The module could not be loaded or could not run the request (a refused
// pool, a request it declared invalid).
class ModuleError : public AnalysisError {
 public:
  using AnalysisError::AnalysisError;
};

// The caller asked the analysis to stop (StopFlag) before its end.
class Interrupted : public AnalysisError {
 public:
  using AnalysisError::AnalysisError;
};

// Messages are one line of printable text however hostile the input: text
// from the data enters them through excerpt, which writes control bytes as
// escapes (\n, \t, \r, \xNN) and cuts anything longer than
// kExcerptLength bytes, ending it with "...".
constexpr std::size_t kExcerptLength = 60;
std::string excerpt(std::string_view text);

// "20,000": a count with its thousands grouped by commas.
std::string grouped(std::size_t count);

}  // namespace qvd::analysis

#endif
