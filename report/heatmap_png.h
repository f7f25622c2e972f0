// The correlation matrix as a PNG image, the raster a large heatmap embeds
// (heatmap_svg.h): pixel (I, J) is the mean of the correlations of block
// (I, J) of `block` by `block` pairs (block_means.h; with block 1, pair
// (i, j) itself), coloured on the heatmaps' scale (colour_scale.h).
//
// The image is colour-mapped, one byte a pixel, which keeps 1,600 by 1,600
// pixels at a few megabytes: the correlation is rounded to the nearest
// multiple of 1/127 (255 levels from -1 to +1, 0 among them) and the 256th
// entry is the grey of blocks with no usable pair. A level's colour is the
// scale's colour of that level, so a pixel differs from the exact colour of
// its mean by at most one unit in each channel.
//
// Available when the report library is built with libpng (QVDEP_HAVE_PNG;
// not in the Windows cross build, where Debian has no libpng).
#ifndef QVDEP_REPORT_HEATMAP_PNG_H
#define QVDEP_REPORT_HEATMAP_PNG_H

#include <cstddef>
#include <string>

#include "analysis/result/result.h"

namespace qvd::report {

#ifdef QVDEP_HAVE_PNG
// The PNG file's bytes, blocks_along(N, block) pixels a side; block >= 1.
std::string heatmap_png(const analysis::Result &result, std::size_t block = 1);
#endif

}  // namespace qvd::report

#endif
