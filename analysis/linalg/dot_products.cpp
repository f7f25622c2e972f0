#include "analysis/linalg/dot_products.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

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

constexpr std::size_t kPanel = 32;  // vectors of `a` in a panel: four registers of eight
constexpr int kColumns = static_cast<int>(DotProductPanels::kVectorsPerTile);  // of `b` in a tile

// Vectors r .. r + live - 1 of `a` period by period, the panel's other
// places zero: panel[s kPanel + i] = a[i t + s].
void pack_panel(const double *a, std::size_t live, std::size_t t, double *panel) {
  for (std::size_t s = 0; s < t; ++s)
    for (std::size_t i = 0; i < kPanel; ++i) panel[s * kPanel + i] = i < live ? a[i * t + s] : 0.0;
}

// The sums of the panel's first 8 V vectors with S vectors of `b`, the
// last register's lanes stored where `last` has them.
template <int V, int S>
__attribute__((target("avx512f"))) void tile(const double *panel, const double *b, std::size_t t,
                                             double *out, std::size_t ld, __mmask8 last) {
  __m512d sum[V][S];
#pragma GCC unroll 8
  for (int v = 0; v < V; ++v)
#pragma GCC unroll 8
    for (int j = 0; j < S; ++j) sum[v][j] = _mm512_setzero_pd();
  for (std::size_t s = 0; s < t; ++s) {
    __m512d row[V];
#pragma GCC unroll 8
    for (int v = 0; v < V; ++v) row[v] = _mm512_loadu_pd(panel + s * kPanel + 8 * v);
#pragma GCC unroll 8
    for (int j = 0; j < S; ++j) {
      const __m512d column = _mm512_set1_pd(b[j * t + s]);
#pragma GCC unroll 8
      for (int v = 0; v < V; ++v) sum[v][j] = _mm512_fmadd_pd(row[v], column, sum[v][j]);
    }
  }
#pragma GCC unroll 8
  for (int j = 0; j < S; ++j) {
#pragma GCC unroll 8
    for (int v = 0; v + 1 < V; ++v) _mm512_storeu_pd(out + j * ld + 8 * v, sum[v][j]);
    _mm512_mask_storeu_pd(out + j * ld + 8 * (V - 1), last, sum[V - 1][j]);
  }
}

using Tile = void (*)(const double *, const double *, std::size_t, double *, std::size_t, __mmask8);

template <int V, int... S>
constexpr Tile row_of_tiles(int s) {
  constexpr Tile tiles[] = {tile<V, S>...};
  return tiles[s - 1];
}

// The tile for v registers of sums and s vectors of `b`, 1 <= v <= 4,
// 1 <= s <= 6.
Tile tile_for(int v, int s) {
  switch (v) {
    case 1: return row_of_tiles<1, 1, 2, 3, 4, 5, 6>(s);
    case 2: return row_of_tiles<2, 1, 2, 3, 4, 5, 6>(s);
    case 3: return row_of_tiles<3, 1, 2, 3, 4, 5, 6>(s);
    default: return row_of_tiles<4, 1, 2, 3, 4, 5, 6>(s);
  }
}

}  // namespace

bool dot_products_available() { return __builtin_cpu_supports("avx512f"); }

void DotProductPanels::pack(const double *a, std::size_t rows, std::size_t t) {
  if (!dot_products_available()) std::abort();  // a caller skipped the check
  rows_ = rows;
  t_ = t;
  const std::size_t panels = (rows + kPanel - 1) / kPanel;
  panels_.resize(panels * kPanel * t);
  for (std::size_t p = 0; p < panels; ++p)
    pack_panel(a + p * kPanel * t, std::min(kPanel, rows - p * kPanel), t,
               panels_.data() + p * kPanel * t);
}

void DotProductPanels::multiply(const double *b, std::size_t cols, double *out,
                                std::size_t ld) const {
  const std::size_t panels = (rows_ + kPanel - 1) / kPanel;
  // A tile's vectors of `b` stay in the first-level cache while it meets
  // every panel.
  for (std::size_t c = 0; c < cols; c += kColumns) {
    const int nc = static_cast<int>(std::min<std::size_t>(kColumns, cols - c));
    for (std::size_t p = 0; p < panels; ++p) {
      const std::size_t live = std::min(kPanel, rows_ - p * kPanel);
      const int registers = static_cast<int>((live + 7) / 8);
      const __mmask8 last = live % 8 == 0 ? 0xFF : static_cast<__mmask8>((1u << (live % 8)) - 1);
      tile_for(registers, nc)(panels_.data() + p * kPanel * t_, b + c * t_, t_,
                              out + c * ld + p * kPanel, ld, last);
    }
  }
}

#else

bool dot_products_available() { return false; }

void DotProductPanels::pack(const double *, std::size_t, std::size_t) {
  std::abort();  // a caller skipped dot_products_available()
}

void DotProductPanels::multiply(const double *, std::size_t, double *, std::size_t) const {
  std::abort();
}

#endif

}  // namespace qvd::analysis
