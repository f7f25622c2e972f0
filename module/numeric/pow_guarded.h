// a^b with the module's fault policy: binary powering for integral
// exponents, a table-driven logarithm/exponential core for the rest.
#ifndef QVDEP_NUMERIC_POW_GUARDED_H
#define QVDEP_NUMERIC_POW_GUARDED_H

namespace qvd {

double pow_guarded(double a, double b);

}  // namespace qvd

#endif
