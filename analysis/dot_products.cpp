#include "analysis/dot_products.h"

#include <algorithm>
#include <cstdlib>

// The kernel is built for 64-bit x86 with GCC or Clang on Linux. MinGW-w64
// does not keep the stack 64-byte aligned for AVX-512 registers it spills,
// so the Windows build goes without it.
#if defined(__x86_64__) && defined(__GNUC__) && defined(__linux__)
#define QVDEP_DOT_PRODUCTS_AVX512 1
// GCC 12 takes the deliberately undefined upper halves in its AVX-512
// headers for uninitialised variables (a false warning).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#ifndef __clang__
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>
#pragma GCC diagnostic pop
#endif

namespace qvd::analysis {

#ifdef QVDEP_DOT_PRODUCTS_AVX512
namespace {

// Columns of `b` a pass over the rows of `a` reuses: 120 vectors of 250
// periods (240 kB) stay in the second-level cache while every group of four
// rows runs over them.
constexpr std::size_t kColumnBlock = 120;
constexpr int kRows = 4, kColumns = 6;

// ((p0 + p4) + (p2 + p6)) + ((p1 + p5) + (p3 + p7)).
__attribute__((target("avx512f"))) inline double lane_sum(__m512d p) {
  const __m256d half = _mm256_add_pd(_mm512_castpd512_pd256(p), _mm512_extractf64x4_pd(p, 1));
  const __m128d quarter =
      _mm_add_pd(_mm256_castpd256_pd128(half), _mm256_extractf128_pd(half, 1));
  return _mm_cvtsd_f64(_mm_add_sd(quarter, _mm_unpackhi_pd(quarter, quarter)));
}

// One group of eight terms (fewer at the end: the lanes past t load
// zeros, which add +0) into every sum of an R-by-S tile.
template <int R, int S>
__attribute__((target("avx512f"), always_inline)) inline void add_terms(
    __m512d (&sum)[R][S], const double *a, const double *b, std::size_t t, std::size_t s,
    __mmask8 live) {
  __m512d row[R];
#pragma GCC unroll 8
  for (int i = 0; i < R; ++i) row[i] = _mm512_maskz_loadu_pd(live, a + i * t + s);
#pragma GCC unroll 8
  for (int j = 0; j < S; ++j) {
    const __m512d column = _mm512_maskz_loadu_pd(live, b + j * t + s);
#pragma GCC unroll 8
    for (int i = 0; i < R; ++i) sum[i][j] = _mm512_fmadd_pd(row[i], column, sum[i][j]);
  }
}

// The R-by-S tile of products of a[0 .. R) with b[0 .. S).
template <int R, int S>
__attribute__((target("avx512f"))) void tile(const double *a, const double *b, std::size_t t,
                                             double *out, std::size_t ld) {
  __m512d sum[R][S];
#pragma GCC unroll 8
  for (int i = 0; i < R; ++i)
#pragma GCC unroll 8
    for (int j = 0; j < S; ++j) sum[i][j] = _mm512_setzero_pd();
  std::size_t s = 0;
  for (; s + 8 <= t; s += 8) add_terms<R, S>(sum, a, b, t, s, 0xFF);
  if (s < t) add_terms<R, S>(sum, a, b, t, s, static_cast<__mmask8>((1u << (t - s)) - 1));
#pragma GCC unroll 8
  for (int j = 0; j < S; ++j)
#pragma GCC unroll 8
    for (int i = 0; i < R; ++i) out[j * ld + i] = lane_sum(sum[i][j]);
}

using Tile = void (*)(const double *, const double *, std::size_t, double *, std::size_t);

template <int R, int... S>
constexpr Tile row_of_tiles(int s) {
  constexpr Tile tiles[] = {tile<R, S>...};
  return tiles[s - 1];
}

// The tile for r rows and s columns, 1 <= r <= 4, 1 <= s <= 6.
Tile tile_for(int r, int s) {
  switch (r) {
    case 1: return row_of_tiles<1, 1, 2, 3, 4, 5, 6>(s);
    case 2: return row_of_tiles<2, 1, 2, 3, 4, 5, 6>(s);
    case 3: return row_of_tiles<3, 1, 2, 3, 4, 5, 6>(s);
    default: return row_of_tiles<4, 1, 2, 3, 4, 5, 6>(s);
  }
}

}  // namespace

bool dot_products_available() { return __builtin_cpu_supports("avx512f"); }

void dot_products(const double *a, std::size_t rows, const double *b, std::size_t cols,
                  std::size_t t, double *out, std::size_t ld) {
  if (!dot_products_available()) std::abort();  // a caller skipped the check
  for (std::size_t c0 = 0; c0 < cols; c0 += kColumnBlock) {
    const std::size_t c1 = std::min(cols, c0 + kColumnBlock);
    for (std::size_t r = 0; r < rows; r += kRows) {
      const int nr = static_cast<int>(std::min<std::size_t>(kRows, rows - r));
      for (std::size_t c = c0; c < c1; c += kColumns) {
        const int nc = static_cast<int>(std::min<std::size_t>(kColumns, c1 - c));
        tile_for(nr, nc)(a + r * t, b + c * t, t, out + c * ld + r, ld);
      }
    }
  }
}

#else

bool dot_products_available() { return false; }

void dot_products(const double *, std::size_t, const double *, std::size_t, std::size_t,
                  double *, std::size_t) {
  std::abort();  // a caller skipped dot_products_available()
}

#endif

}  // namespace qvd::analysis
