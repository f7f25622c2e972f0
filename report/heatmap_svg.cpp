#include "report/heatmap_svg.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include <fmt/format.h>

#include "report/colour_scale.h"
#include "report/heatmap_png.h"
#include "report/svg_text.h"

namespace qvd::report {
namespace {

constexpr double kMatrixWidth = 720;      // pixels the matrix aims for
constexpr double kMaxCell = 28, kMinCell = 1.5;
constexpr double kMinLabelPitch = 7;      // pixels between written labels
constexpr std::size_t kMaxLabelChars = 20;

std::string colour(double rho) { return hex_colour(correlation_colour(rho)); }

std::string short_label(const std::string &label) {
  return label.size() <= kMaxLabelChars ? label : label.substr(0, kMaxLabelChars - 1) + "~";
}

// The squares of the matrix: `values` holds one value per block of
// `block` by `block` cells (row after row, ceil(n / block) a row); the
// blocks of the last row and column are cut at the matrix's edge. With
// block 1 this is one square per pair.
std::string cell_squares(const std::vector<double> &values, std::size_t n, std::size_t block,
                         double left, double top, double cell) {
  const std::size_t m = (n + block - 1) / block;
  std::string out = "<g shape-rendering=\"crispEdges\">\n";
  for (std::size_t i = 0; i < m; ++i)
    for (std::size_t j = 0; j < m; ++j) {
      const double width = cell * static_cast<double>(std::min(block, n - j * block));
      const double height = cell * static_cast<double>(std::min(block, n - i * block));
      out += fmt::format("<rect x=\"{:.2f}\" y=\"{:.2f}\" width=\"{:.2f}\" height=\"{:.2f}\" "
                         "fill=\"{}\"/>\n",
                         left + cell * static_cast<double>(j * block),
                         top + cell * static_cast<double>(i * block), width, height,
                         colour(values[i * m + j]));
    }
  out += "</g>\n";
  return out;
}

// Without a PNG encoder a large matrix is drawn coarser: the mean of the
// correlations of each block of cells that could be correlated (NaN when
// none could), with blocks as small as keep it within kMaxVectorSections
// squares a side, so the file stays bounded.
std::size_t block_for(std::size_t n) { return (n + kMaxVectorSections - 1) / kMaxVectorSections; }

std::vector<double> block_means(const analysis::Result &result, std::size_t n, std::size_t block) {
  const std::size_t m = (n + block - 1) / block;
  std::vector<double> sum(m * m, 0.0), count(m * m, 0.0);
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = 0; j < n; ++j) {
      const double r = analysis::correlation_of(result, i, j);
      if (std::isnan(r)) continue;
      sum[(i / block) * m + j / block] += r;
      count[(i / block) * m + j / block] += 1;
    }
  for (std::size_t k = 0; k < m * m; ++k) sum[k] = count[k] > 0 ? sum[k] / count[k] : std::nan("");
  return sum;
}

#ifdef QVDEP_HAVE_PNG
std::string base64(const std::string &bytes) {
  static constexpr char kDigits[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  for (std::size_t k = 0; k < bytes.size(); k += 3) {
    const std::size_t left = bytes.size() - k;
    std::uint32_t word = static_cast<std::uint8_t>(bytes[k]) << 16;
    if (left > 1) word |= static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[k + 1])) << 8;
    if (left > 2) word |= static_cast<std::uint8_t>(bytes[k + 2]);
    out += kDigits[(word >> 18) & 63];
    out += kDigits[(word >> 12) & 63];
    out += left > 1 ? kDigits[(word >> 6) & 63] : '=';
    out += left > 2 ? kDigits[word & 63] : '=';
  }
  return out;
}

// One embedded PNG, one pixel a pair, stretched over the matrix's square
// without smoothing: optimizeSpeed is SVG 1.1's word for it (librsvg,
// Inkscape), pixelated the CSS one browsers know; a viewer that does not
// know the latter drops it and keeps the former.
std::string raster_image(const analysis::Result &result, double left, double top,
                         double side) {
  return fmt::format("<image x=\"{:.2f}\" y=\"{:.2f}\" width=\"{:.2f}\" height=\"{:.2f}\" "
                     "preserveAspectRatio=\"none\" image-rendering=\"optimizeSpeed\" "
                     "style=\"image-rendering:pixelated\" href=\"data:image/png;base64,{}\"/>\n",
                     left, top, side, side, base64(heatmap_png(result)));
}
#endif

}  // namespace

std::string heatmap_svg(const analysis::Result &result, const std::string &title,
                        [[maybe_unused]] LargeMatrix large) {
  const std::size_t n = result.section_labels.size();
  const double cell = std::clamp(kMatrixWidth / std::max<double>(1, static_cast<double>(n)),
                                 kMinCell, kMaxCell);
  const std::size_t step = static_cast<std::size_t>(std::ceil(kMinLabelPitch / cell));
  const double font = std::min(12.0, cell * static_cast<double>(step) * 0.8);
  std::size_t longest = 1;
  for (const auto &label : result.section_labels)
    longest = std::max(longest, short_label(label).size());
  const double margin = static_cast<double>(longest) * font * 0.62 + 8;
  const double left = margin, top = 36 + margin, side = cell * static_cast<double>(n);
  const double width = left + side + 90, height = top + side + 20;

  std::string svg = fmt::format(
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"{:.0f}\" height=\"{:.0f}\" "
      "viewBox=\"0 0 {:.0f} {:.0f}\" font-family=\"sans-serif\">\n"
      "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n"
      "<text x=\"{:.1f}\" y=\"22\" font-size=\"14\">{}</text>\n",
      width, height, width, height, left, xml_escape(title));
  if (n <= kMaxVectorSections)
    svg += cell_squares(block_means(result, n, 1), n, 1, left, top, cell);
#ifdef QVDEP_HAVE_PNG
  else if (large == LargeMatrix::raster)
    svg += raster_image(result, left, top, side);
#endif
  else
    svg += cell_squares(block_means(result, n, block_for(n)), n, block_for(n), left, top, cell);
  for (std::size_t i = 0; i < n; i += step) {
    const std::string label = xml_escape(short_label(result.section_labels[i]));
    const double centre = cell * (static_cast<double>(i) + 0.5);
    svg += fmt::format("<text x=\"{:.2f}\" y=\"{:.2f}\" font-size=\"{:.1f}\" text-anchor=\"end\" "
                       "dominant-baseline=\"middle\">{}</text>\n",
                       left - 4, top + centre, font, label);
    svg += fmt::format("<text transform=\"translate({:.2f},{:.2f}) rotate(-90)\" "
                       "font-size=\"{:.1f}\" dominant-baseline=\"middle\">{}</text>\n",
                       left + centre, top - 4, font, label);
  }
  // Colour bar: -1 at the bottom, +1 at the top.
  const double bar_x = left + side + 20;
  svg += "<defs><linearGradient id=\"scale\" x1=\"0\" y1=\"1\" x2=\"0\" y2=\"0\">\n";
  for (int k = 0; k <= 8; ++k) {
    const double rho = -1.0 + 0.25 * k;
    svg += fmt::format("<stop offset=\"{:.3f}\" stop-color=\"{}\"/>\n", k / 8.0, colour(rho));
  }
  svg += "</linearGradient></defs>\n";
  svg += fmt::format("<rect x=\"{:.2f}\" y=\"{:.2f}\" width=\"16\" height=\"{:.2f}\" "
                     "fill=\"url(#scale)\" stroke=\"#444\" stroke-width=\"0.5\"/>\n",
                     bar_x, top, side);
  for (int k = 0; k <= 4; ++k) {
    const double y = top + side * (1.0 - k / 4.0);
    svg += fmt::format("<text x=\"{:.2f}\" y=\"{:.2f}\" font-size=\"10\" "
                       "dominant-baseline=\"middle\">{:g}</text>\n",
                       bar_x + 20, y, -1.0 + 0.5 * k);
  }
  svg += fmt::format("<rect x=\"{:.2f}\" y=\"{:.2f}\" width=\"16\" height=\"10\" fill=\"{}\"/>\n"
                     "<text x=\"{:.2f}\" y=\"{:.2f}\" font-size=\"10\" "
                     "dominant-baseline=\"middle\">n/a</text>\n",
                     bar_x, top + side + 6, colour(std::nan("")), bar_x + 20, top + side + 11);
  svg += "</svg>\n";
  return svg;
}

}  // namespace qvd::report
