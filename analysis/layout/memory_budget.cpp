#include "analysis/layout/memory_budget.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "analysis/common/errors.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace qvd::analysis {

std::uint64_t default_memory_budget() {
  constexpr std::uint64_t kUnknown = std::uint64_t{16} << 30;
  std::uint64_t physical = kUnknown;
#ifdef _WIN32
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof status;
  if (GlobalMemoryStatusEx(&status) != 0) physical = status.ullTotalPhys;
#else
  const long pages = sysconf(_SC_PHYS_PAGES), page = sysconf(_SC_PAGE_SIZE);
  if (pages > 0 && page > 0) physical = static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(page);
#endif
  return physical / 2;
}

double panel_bytes(double n, double t, double k) { return n * t * (k + 1) * 8.0; }

// Row, sweep work and pivot flags, two packed m-by-m matrices, residuals,
// coefficients and the packed correlations, which become the result's as
// they lie.
double module_bytes(double n, double t, double k, double m) {
  const double cell = 8.0;
  return (k + 2 + m) * cell + m + m * (m + 1) * cell + n * t * cell + (k + 1) * cell +
         n * (n + 1) / 2 * cell;
}

double analysis_bytes(double n, double t, double k, double m) {
  const double cell = 8.0;
  const double panel = panel_bytes(n, t, k);
  const double module = module_bytes(n, t, k, m);
  // This library: the residuals section by section, and CD*'s copy of them.
  const double residuals = 2 * n * t * cell;
  // The bias-adjusted LM: the stacked bases of the regressors, the weights
  // kept from before the correlations and those formed a few bands at a
  // time after them (at most 16 MiB each, or one band for each thread),
  // and for each of two threads a band's bases (as they are and packed for
  // the kernel) and a part of their cross-products with the partners (a
  // band has about 2^20 / (K N) rows, at least K and at most N K; a part
  // at most 256 columns, or K).
  const double bases = n * t * k * cell;
  const double band_rows = std::min(std::max(double{1 << 20} / (k * n), k), n * k);
  const double weights = 2 * std::max(double{1 << 24}, 3 * band_rows / std::max(k, 1.0) * n * cell);
  const double band = 2 * band_rows * (2 * t + std::max(256.0, k)) * cell;
  // With gaps in the residuals (or on request): the packed table of common
  // periods, the pair table's and Pesaran's unbalanced block's masked
  // copies of the residuals, and the block's correlations and common
  // periods of the chunks of pairs in hand.
  const double unbalanced = n * (n + 1) / 2 * 4 + 2 * (2 * n * t * cell) + 8 * (1 << 18) * 2 * cell;
  return panel + module + residuals + bases + weights + band + unbalanced;
}

double model_analysis_bytes(Model model, double n, double t, double k, double m) {
  const double cell = 8.0, residuals = 2 * n * t * cell;
  switch (model) {
    case Model::unit: return analysis_bytes(n, t, k, m);
    case Model::cce: {
      const double augmented = 2 * k + 1;
      return panel_bytes(n, t, k) + panel_bytes(n, t, augmented) +
             module_bytes(n, t, augmented, m + k + 1) + residuals + centred_pair_table_bytes(n, t);
    }
    default: {
      const double design = 2 * n * t * (k + 2) * cell;
      return panel_bytes(n, t, k) + design + residuals + centred_pair_table_bytes(n, t);
    }
  }
}

double centred_pair_table_bytes(double n, double t) {
  const double cells = n * (n + 1) / 2, band_rows = 32;
  return cells * (8 + 4) + 2 * n * t * 8.0 + band_rows * n * (8 + 4);
}

std::string human_bytes(double bytes) {
  const char *units[] = {"bytes", "kB", "MB", "GB", "TB", "PB"};
  int u = 0;
  while (bytes >= 999.5 && u < 5) {
    bytes /= 1000;
    ++u;
  }
  char text[32];
  std::snprintf(text, sizeof text, u == 0 ? "%.0f %s" : bytes < 9.95 ? "%.1f %s" : "%.0f %s",
                bytes, units[u]);
  return text;
}

std::uint64_t parse_memory_size(const std::string &text) {
  double value = 0;
  const char *begin = text.data(), *end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(begin, end, value);
  std::string unit(ptr, end);
  if (!unit.empty() && (unit.back() == 'B' || unit.back() == 'b')) unit.pop_back();
  double scale = 0;
  if (unit.empty()) scale = 1;
  else if (unit == "k" || unit == "K") scale = 1e3;
  else if (unit == "M" || unit == "m") scale = 1e6;
  else if (unit == "G" || unit == "g") scale = 1e9;
  else if (unit == "T" || unit == "t") scale = 1e12;
  if (ec != std::errc() || ptr == begin || scale == 0 || !(value > 0) || !std::isfinite(value) ||
      value * scale >= 1.8e19)
    throw InputError("not a memory size: \"" + excerpt(text) +
                     "\" (a positive number of bytes, or with k, M, G or T: 4G, 512M)");
  return static_cast<std::uint64_t>(value * scale);
}

}  // namespace qvd::analysis
