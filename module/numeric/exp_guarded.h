// e^x with the module's overflow fault (Cody and Waite's rational form with
// the argument reduced by ln 2). Above 709.78271289339 it raises
// kFaultOverflow; below -708.3964185 it is +0; below 2.710505e-20 in
// magnitude it is exactly 1.
#ifndef QVDEP_NUMERIC_EXP_GUARDED_H
#define QVDEP_NUMERIC_EXP_GUARDED_H

namespace qvd {

// Arguments below this give +0 (ln of the smallest normal double).
inline constexpr double kExpLowerLimit = -708.3964185;

double exp_guarded(double x);

}  // namespace qvd

#endif
