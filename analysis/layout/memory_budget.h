// How much memory an analysis may take, and how much one will take.
//
// A panel is laid out dense, N cross-sections by T periods, however few of
// those cells the rows fill: a file whose every row names a new
// cross-section and a new period (the id and time columns swapped, say)
// asks for N*T cells from N rows. The estimate is checked against a budget
// before anything that large is allocated.
#ifndef QVDEP_ANALYSIS_LAYOUT_MEMORY_BUDGET_H
#define QVDEP_ANALYSIS_LAYOUT_MEMORY_BUDGET_H

#include <cstdint>
#include <string>

#include "analysis/common/model_choice.h"

namespace qvd::analysis {

// Half of the machine's physical memory (8 GiB when it cannot be told).
std::uint64_t default_memory_budget();

// Bytes an analysis of N cross-sections, T periods and K regressors (m the
// order of each equation's cross-product matrix, K + c + h + 1) needs
// beyond the data already read: the dense panel, the module's eight work
// buffers (its correlations become the result's), this library's copies of
// the residuals, and the work arrays of the bias-adjusted LM and of
// Pesaran's unbalanced block.
double analysis_bytes(double sections, double periods, double regressors, double order);

// plm's pair table of a model's residuals (centred_pair_table in
// unbalanced_cd.h): its packed correlations (8 bytes a cell) and common
// periods (4), its masked copy of the residuals, and the bands of rows its
// sums read. The same cells as the module's correlations and the table of
// common periods that analysis_bytes counts: 600 MB at N = 10,000.
double centred_pair_table_bytes(double sections, double periods);

// What the analysis of a panel model's residuals needs (model_choice.h):
// analysis_bytes for each cross-section's own regression; for CCE the
// panel, the panel with its 2K + 1 regressors, the module's buffers on it
// and plm's pair table; for the others the panel, the model's design and
// its transformed copy, the residuals (and CD*'s copy) and plm's pair
// table.
double model_analysis_bytes(Model model, double sections, double periods, double regressors,
                            double order);
// Of those, the dense panel and the module's own eight buffers: the floor
// that any analysis of the panel needs.
double panel_bytes(double sections, double periods, double regressors);
double module_bytes(double sections, double periods, double regressors, double order);

// That order for K regressors, an intercept or not, and h restrictions:
// a row and column for each regressor, the intercept, each restriction
// that borders the matrix, and y.
constexpr double cross_product_order(double regressors, bool intercept, double restrictions) {
  return regressors + (intercept ? 1 : 0) + restrictions + 1;
}

// "6.7 GB", "512 MB", "12 kB": decimal units, two significant digits.
std::string human_bytes(double bytes);

// A size such as "4G", "512M", "1.5GB", "800000" (bytes); units are powers
// of 1000 (k, M, G, T; an optional trailing B). Throws InputError.
std::uint64_t parse_memory_size(const std::string &text);

}  // namespace qvd::analysis

#endif
