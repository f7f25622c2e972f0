// The package's native entry points and their registration with R.
//
// qvdep_cdtest(panel, options, source) runs one analysis (r_input.h for
// the arguments) and returns r_result.h's list, or, when the library
// refuses, list(error = <class>, message = <the library's message>), which
// the R code raises as a condition of that class (all of class
// qvdep_error). Every C++ exception is caught here: nothing but an
// interrupt leaves this file by a jump, and that only once every C++
// object of the call is gone (and an R error of R's own, such as running
// out of memory while the result's list is made).
#include <R_ext/Rdynload.h>
#include <Rcpp.h>

#include <exception>
#include <new>
#include <string>
#include <utility>

#include "analysis/common/errors.h"
#include "analysis/driver/analysis.h"
#include "interruptible_run.h"
#include "r_input.h"
#include "r_result.h"

namespace {

using namespace qvd;

SEXP refusal(const char *condition_class, const std::string &message) {
  return Rcpp::List::create(
      Rcpp::Named("error") = condition_class,
      Rcpp::Named("message") = Rcpp::CharacterVector::create(r::utf8(message)));
}

// The analysis, from R's arguments to R's list; sets `interrupted` (and
// returns NULL) when R was interrupted during the run.
SEXP analyse(SEXP panel, SEXP options, SEXP source, bool &interrupted) {
  try {
    const std::string name = r::string_element(source, "source");
    analysis::LongPanel data = r::panel_from(panel);
    const analysis::Options opts = r::options_from(options);
    r::RunOutcome run = r::run_interruptibly([&](const analysis::StopFlag &stop) {
      return analysis::run_analysis(std::move(data), opts, stop);
    });
    if (run.interrupted) {
      interrupted = true;
      return R_NilValue;
    }
    if (run.error) std::rethrow_exception(run.error);
    // The result is owned by R while its list is made, so that it is freed
    // even if R runs out of memory there (and jumps over this frame).
    Rcpp::XPtr<analysis::Result> result(new analysis::Result(std::move(*run.result)), true);
    run.result.reset();
    Rcpp::List out = r::result_to_r(name, *result);
    result.release();
    return out;
  } catch (const analysis::InputError &e) {
    return refusal("qvdep_input_error", e.what());
  } catch (const analysis::FloatingPointFault &e) {
    return refusal("qvdep_floating_point_error", e.what());
  } catch (const analysis::ModuleError &e) {
    return refusal("qvdep_module_error", e.what());
  } catch (const analysis::Interrupted &e) {  // a stop asked for without an interrupt
    return refusal("qvdep_error", e.what());
  } catch (const std::bad_alloc &) {
    return refusal("qvdep_memory_error", "not enough memory for the analysis");
  } catch (const std::exception &e) {
    return refusal("qvdep_error", std::string("internal error: ") + e.what());
  } catch (...) {
    return refusal("qvdep_error", "internal error: an unknown exception");
  }
}

}  // namespace

extern "C" SEXP qvdep_cdtest(SEXP panel, SEXP options, SEXP source) {
  BEGIN_RCPP
  bool interrupted = false;
  SEXP out = analyse(panel, options, source, interrupted);
  // END_RCPP raises R's own interrupt for it, once this block is unwound
  // (Rcpp::checkUserInterrupt's way).
  if (interrupted) throw Rcpp::internal::InterruptedException();
  return out;
  END_RCPP
}

namespace {

const R_CallMethodDef kCallEntries[] = {
    {"qvdep_cdtest", reinterpret_cast<DL_FUNC>(&qvdep_cdtest), 3},
    {nullptr, nullptr, 0}};

}  // namespace

extern "C" void R_init_qvdep(DllInfo *dll) {
  R_registerRoutines(dll, nullptr, kCallEntries, nullptr, nullptr);
  R_useDynamicSymbols(dll, FALSE);
  R_forceSymbols(dll, TRUE);
}
