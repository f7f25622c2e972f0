// The residual correlation matrix as a PNG image: row i, column j is the
// pair (i, j), a square of scale-by-scale pixels coloured on the heatmaps'
// scale (colour_scale.h). No labels and no legend: this is the picture the
// SVG heatmap embeds past a hundred and fifty cross-sections, and what
// --heatmap FILE.png writes.
//
// The image is colour-mapped, one byte a pixel, which keeps two thousand
// cross-sections at a few megabytes: the correlation is rounded to the
// nearest multiple of 1/127 (255 levels from -1 to +1, 0 among them) and
// the 256th entry is the grey of unusable pairs. A level's colour is the
// scale's colour of that level, so a pixel differs from the exact colour of
// its correlation by at most one unit in each channel.
//
// Available when the report library is built with libpng (QVDEP_HAVE_PNG;
// not in the Windows cross build, where Debian has no libpng).
#ifndef QVDEP_REPORT_HEATMAP_PNG_H
#define QVDEP_REPORT_HEATMAP_PNG_H

#include <cstddef>
#include <string>

#include "analysis/analysis.h"

namespace qvd::report {

#ifdef QVDEP_HAVE_PNG
// The PNG file's bytes; scale >= 1.
std::string heatmap_png(const analysis::Result &result, int scale = 1);
#endif

// The scale of a picture of its own: the largest whole factor that keeps
// N cells within 720 pixels, and 1 past 720 cross-sections.
int heatmap_png_scale(std::size_t sections);

}  // namespace qvd::report

#endif
