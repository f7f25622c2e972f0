// The pairwise sums for vector widths without lane masks (SSE2, AVX),
// written once over a small traits type that each variant's translation
// unit supplies with its own instruction set.
//
// A lane whose partner residual is missing still forms its products (the
// missing marker is a quiet NaN, so no fault is raised), but the products
// are cleared to +0.0 by a bit mask before they are added. Adding +0.0
// changes no sum: every sum starts at +0.0, and a sum of +0.0 and anything
// is never -0.0 under round to nearest, so s + (+0.0) == s bit for bit,
// NaNs included. Partners left over after the last whole vector are summed
// by the scalar reference.
#ifndef QVDEP_ENGINE_PAIR_SUMS_VECTOR_H
#define QVDEP_ENGINE_PAIR_SUMS_VECTOR_H

#include "engine/pair_sums.h"
#include "numeric/missing_value.h"

namespace qvd::pair_sums_vector {

// R whole vectors of partners from b (relative to period row), summed into
// s_ij[0 .. R * lanes).
template <class V, int R>
void cross_chunk(const ResidualMatrix &E, int i, int first, double *s_ij) {
  typename V::type sum[R];
#pragma GCC unroll 8
  for (int u = 0; u < R; ++u) sum[u] = V::zero();
  for (std::int32_t t = 0; t < E.periods; ++t) {
    const double *e = E.period(t);
    const typename V::type a = V::broadcast(e[i]);
    const double *b = e + first;
  #pragma GCC unroll 8
    for (int u = 0; u < R; ++u)
      sum[u] = V::add(sum[u], V::mul(a, V::load(b + V::kLanes * u)));
  }
#pragma GCC unroll 8
  for (int u = 0; u < R; ++u) V::store(s_ij + V::kLanes * u, sum[u]);
}

template <class V>
void cross(const ResidualMatrix &E, int i, int first, int count,
           double *s_ij) {
  constexpr int L = V::kLanes;
  int k = 0;
  for (; k + 8 * L <= count; k += 8 * L) cross_chunk<V, 8>(E, i, first + k, s_ij + k);
  for (; k + 2 * L <= count; k += 2 * L) cross_chunk<V, 2>(E, i, first + k, s_ij + k);
  for (; k + L <= count; k += L) cross_chunk<V, 1>(E, i, first + k, s_ij + k);
  cross_sums_scalar(E, i, first + k, count - k, s_ij + k);
}

// Two rows: the same kernel twice (the 16 vector registers of SSE2 and AVX
// leave no room for a second set of running sums).
template <class V>
void cross2(const ResidualMatrix &E, int i, int first, int count,
            double *s_ij, double *s_next_j) {
  cross<V>(E, i, first, count, s_ij);
  cross<V>(E, i + 1, first, count, s_next_j);
}

template <class V, int R>
void masked_chunk(const ResidualMatrix &E, int i, int first, PartnerSums &out,
                  int offset) {
  using T = typename V::type;
  T s_ii[R], s_jj[R], s_ij[R], common[R];
#pragma GCC unroll 8
  for (int u = 0; u < R; ++u) s_ii[u] = s_jj[u] = s_ij[u] = common[u] = V::zero();
  const T one = V::broadcast(1.0);
  for (std::int32_t t = 0; t < E.periods; ++t) {
    const double *e = E.period(t);
    const double a = e[i];
    if (is_missing(a)) continue;
    const T av = V::broadcast(a);
    const T aa = V::broadcast(a * a);
    const double *b = e + first;
  #pragma GCC unroll 8
    for (int u = 0; u < R; ++u) {
      const T v = V::load(b + V::kLanes * u);
      const T gone = V::missing(v);  // all ones where the partner is missing
      s_ii[u] = V::add(s_ii[u], V::clear(gone, aa));
      s_jj[u] = V::add(s_jj[u], V::clear(gone, V::mul(v, v)));
      s_ij[u] = V::add(s_ij[u], V::clear(gone, V::mul(av, v)));
      common[u] = V::add(common[u], V::clear(gone, one));
    }
  }
#pragma GCC unroll 8
  for (int u = 0; u < R; ++u) {
    const int slot = offset + V::kLanes * u;
    V::store(out.s_ii + slot, s_ii[u]);
    V::store(out.s_jj + slot, s_jj[u]);
    V::store(out.s_ij + slot, s_ij[u]);
    V::store(out.common + slot, common[u]);
  }
}

template <class V>
void masked(const ResidualMatrix &E, int i, int first, int count,
            PartnerSums &out) {
  constexpr int L = V::kLanes;
  int k = 0;
  for (; k + 2 * L <= count; k += 2 * L) masked_chunk<V, 2>(E, i, first + k, out, k);
  for (; k + L <= count; k += L) masked_chunk<V, 1>(E, i, first + k, out, k);
  masked_sums_scalar(E, i, first + k, count - k, out, k);
}

}  // namespace qvd::pair_sums_vector

#endif
