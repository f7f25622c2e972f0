// The residual correlation matrix drawn as an SVG heatmap on the diverging
// scale of colour_scale.h (blue for -1, white for 0, red for +1, grey for
// pairs that could not be correlated), the cross-section labels along both
// axes and a colour bar. Cells shrink with N so that the picture stays
// about 720 pixels wide (never below 1.5 pixels a cell); below 7 pixels a
// cell, only every k-th label is written.
//
// Up to kMaxVectorSections cross-sections every pair is a square of its
// own. Past that, so that the file stays small enough to open, the matrix
// is one embedded PNG image with a pixel a pair (heatmap_png.h), or, in a
// build without libpng or when asked, squares of the mean correlation of
// blocks of cells, at most kMaxVectorSections a side. Axes, labels and the
// colour bar are vector drawing either way.
#ifndef QVDEP_REPORT_HEATMAP_SVG_H
#define QVDEP_REPORT_HEATMAP_SVG_H

#include <cstddef>
#include <string>

#include "analysis/analysis.h"

namespace qvd::report {

inline constexpr std::size_t kMaxVectorSections = 150;

// How a matrix past kMaxVectorSections is drawn; raster needs libpng
// (QVDEP_HAVE_PNG) and falls back to block_means without it.
enum class LargeMatrix { raster, block_means };

std::string heatmap_svg(const analysis::Result &result, const std::string &title,
                        LargeMatrix large = LargeMatrix::raster);

}  // namespace qvd::report

#endif
