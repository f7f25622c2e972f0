// The nine results the module writes into a request, exactly as it wrote
// them: the four statistics, their p-values and the near-perfect-fit flag
// (a missing LM p-value is NaN with the module's bit pattern).
#ifndef QVDEP_HOST_MODULE_FIGURES_H
#define QVDEP_HOST_MODULE_FIGURES_H

#include "qvdep.h"

namespace qvd::host {

struct ModuleFigures {
  double lm = 0, lm_pvalue = 0;
  double scaled_lm = 0, scaled_lm_pvalue = 0;
  double cd = 0, cd_pvalue = 0;
  double cdp = 0, cdp_pvalue = 0;
  bool near_perfect_fit = false;
};

// The figures a finished request holds.
inline ModuleFigures figures_of(const DependenceRequest &request) {
  return {request.lm,        request.lm_pvalue, request.scaled_lm,  request.scaled_lm_pvalue,
          request.cd,        request.cd_pvalue, request.cdp,        request.cdp_pvalue,
          request.near_perfect_fit != 0};
}

}  // namespace qvd::host

#endif
