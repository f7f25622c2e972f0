// The residual correlation matrix drawn as an SVG heatmap on the diverging
// scale of colour_scale.h (blue for -1, white for 0, red for +1, grey for
// pairs that could not be correlated), the cross-section labels along both
// axes and a titled colour bar. Cells shrink with N so that the picture
// stays about 720 pixels wide (never below 1.5 pixels a cell, and the
// matrix never past kMaxMatrixSide pixels); below 7 pixels a cell, only
// every k-th label is written. A label past 20 characters is shortened
// with an ellipsis and keeps its whole name as its tooltip, and the
// margins are made wide enough for the widest label written.
//
// Up to kMaxVectorSections cross-sections every pair is a square of its
// own. Past that, so that the file stays small enough to open (libxml2,
// which librsvg reads SVG with, refuses a single text node past 10 MB, and
// a pixel a pair made one of 10 MB at N = 4,000), the matrix is one
// embedded PNG image (heatmap_png.h) of at most kMaxImageSide pixels a
// side: a pixel a pair up to that, past it a pixel the mean of a block of
// b by b pairs, which the picture states under the matrix. The file stays
// under about 3.5 MB at any N the module admits. In a build without libpng
// or when asked, the matrix is squares of the mean correlation of blocks
// of cells, at most kMaxVectorSections a side, stated likewise. Axes,
// labels and the colour bar are vector drawing either way.
#ifndef QVDEP_REPORT_HEATMAP_SVG_H
#define QVDEP_REPORT_HEATMAP_SVG_H

#include <cstddef>
#include <string>

#include "analysis/result/result.h"

namespace qvd::report {

inline constexpr std::size_t kMaxVectorSections = 150;
inline constexpr std::size_t kMaxImageSide = 1600;  // pixels of the embedded image
inline constexpr double kMaxMatrixSide = 1600;      // pixels the matrix takes on the page

// How a matrix past kMaxVectorSections is drawn; raster needs libpng
// (QVDEP_HAVE_PNG) and falls back to block_means without it.
enum class LargeMatrix { raster, block_means };

std::string heatmap_svg(const analysis::Result &result, const std::string &title,
                        LargeMatrix large = LargeMatrix::raster);

}  // namespace qvd::report

#endif
