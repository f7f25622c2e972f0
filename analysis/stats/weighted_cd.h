// The weighted CD of Juodis and Reese (2022), "The incidental parameters
// problem in testing for remaining cross-section correlation", JBES 40,
// summed over R independent draws of the signs, so that the decision rests
// less on the outcome of a single draw:
//
//   CD_W,R = (sum_{r=1..R} CD_W(w^(r))) / sqrt(R),
//
// each CD_W(w) = sqrt(2/(N(N-1))) sum_{i<j} sqrt(T_ij) w_i w_j rho_ij as
// weighted_cd computes it. The draws are independent, each CD_W(w^(r)) is
// N(0,1) under the null, so their scaled sum is too (two-sided).
//
// The signs come from one 64-bit Mersenne twister seeded once with `seed`:
// draw r takes the next N outputs of the same stream, each the sign that
// random_signs draws. Draw 1 is therefore random_signs(N, seed), and with
// R = 1 the statistic is weighted_cd(pairs, random_signs(N, seed)) to the
// bit.
#ifndef QVDEP_ANALYSIS_WEIGHTED_CD_DRAWS_H
#define QVDEP_ANALYSIS_WEIGHTED_CD_DRAWS_H

#include <cstdint>

#include "analysis/stats/pair_table.h"

namespace qvd::analysis {

// CD_W,R over the usable pairs of `pairs`. Throws InputError when draws < 1.
double weighted_cd_draws(const PairTable &pairs, int draws, std::uint64_t seed,
                         const StopFlag &stop = {});

}  // namespace qvd::analysis

#endif
