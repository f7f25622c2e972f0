// The residual correlation matrix drawn as an SVG heatmap: one square per
// pair on a diverging scale (blue for -1, white for 0, red for +1), grey
// for pairs that could not be correlated, the cross-section labels along
// both axes and a colour bar. Cells shrink with N so that the picture stays
// about 720 pixels wide; below 7 pixels a cell, only every k-th label is
// written, so a few hundred cross-sections remain readable.
#ifndef QVDEP_REPORT_HEATMAP_SVG_H
#define QVDEP_REPORT_HEATMAP_SVG_H

#include <string>

#include "analysis/analysis.h"

namespace qvd::report {

std::string heatmap_svg(const analysis::Result &result, const std::string &title);

}  // namespace qvd::report

#endif
