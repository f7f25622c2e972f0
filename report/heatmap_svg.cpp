#include "report/heatmap_svg.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string_view>
#include <vector>

#include <fmt/format.h>

#include "analysis/common/errors.h"
#include "report/block_means.h"
#include "report/colour_scale.h"
#include "report/heatmap_png.h"
#include "report/svg_text.h"

namespace qvd::report {
namespace {

constexpr double kMatrixWidth = 720;       // pixels the matrix aims for
constexpr double kMaxCell = 28, kMinCell = 1.5;
constexpr double kMinLabelPitch = 7;       // pixels between written labels
constexpr std::size_t kMaxLabelChars = 20;

std::string colour(double rho) { return hex_colour(correlation_colour(rho)); }

// The bytes of the first `count` characters of UTF-8 text (all of it when
// it has fewer).
std::size_t bytes_of_characters(std::string_view text, std::size_t count) {
  std::size_t at = 0;
  for (std::size_t seen = 0; at < text.size(); ++at) {
    const bool starts = (static_cast<unsigned char>(text[at]) & 0xC0) != 0x80;
    if (starts && seen++ == count) break;
  }
  return at;
}

// A label of at most kMaxLabelChars characters: a longer one keeps its
// first characters and an ellipsis, cut between characters, never inside
// one (the whole name goes into the label's tooltip).
std::string short_label(const std::string &label) {
  const std::size_t whole = bytes_of_characters(label, kMaxLabelChars);
  if (whole == label.size()) return label;
  return label.substr(0, bytes_of_characters(label, kMaxLabelChars - 1)) + "\u2026";
}

// The width a sans-serif face gives the text, over-estimated a little per
// character class, so that margins made from it do not clip a label.
double text_width(std::string_view text, double font) {
  double ems = 0;
  for (std::size_t at = 0; at < text.size(); ++at) {
    const unsigned char ch = static_cast<unsigned char>(text[at]);
    if ((ch & 0xC0) == 0x80) continue;  // inside a character
    if (ch >= 0x80) ems += 1.0;         // accented, Greek, CJK: up to a full em
    else if (std::string_view("ijlrtf.,;:'!|()[] ").find(static_cast<char>(ch)) !=
             std::string_view::npos)
      ems += 0.4;
    else if (std::string_view("mwMW@%").find(static_cast<char>(ch)) != std::string_view::npos)
      ems += 1.0;
    else if (ch >= 'A' && ch <= 'Z')
      ems += 0.78;
    else
      ems += 0.64;
  }
  return ems * font;
}

// The squares of the matrix, one per block of `block` by `block` pairs (cut
// at the matrix's edge), each in the colour of its block's mean; with block
// 1, one per pair.
std::string cell_squares(const analysis::Result &result, std::size_t block, double left,
                         double top, double cell) {
  const std::size_t n = result.section_labels.size(), m = blocks_along(n, block);
  std::string out = "<g shape-rendering=\"crispEdges\">\n";
  for (std::size_t i = 0; i < m; ++i) {
    const std::vector<double> means = block_row_means(result, block, i);
    for (std::size_t j = 0; j < m; ++j) {
      const double width = cell * static_cast<double>(std::min(block, n - j * block));
      const double height = cell * static_cast<double>(std::min(block, n - i * block));
      out += fmt::format("<rect x=\"{:.2f}\" y=\"{:.2f}\" width=\"{:.2f}\" height=\"{:.2f}\" "
                         "fill=\"{}\"/>\n",
                         left + cell * static_cast<double>(j * block),
                         top + cell * static_cast<double>(i * block), width, height,
                         colour(means[j]));
    }
  }
  out += "</g>\n";
  return out;
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

// One embedded PNG, a pixel a block, stretched over the matrix's square
// without smoothing: optimizeSpeed is SVG 1.1's word for it (librsvg,
// Inkscape), pixelated the CSS one browsers know; a viewer that does not
// know the latter drops it and keeps the former.
std::string raster_image(const analysis::Result &result, std::size_t block, double left,
                         double top, double side) {
  return fmt::format("<image x=\"{:.2f}\" y=\"{:.2f}\" width=\"{:.2f}\" height=\"{:.2f}\" "
                     "preserveAspectRatio=\"none\" image-rendering=\"optimizeSpeed\" "
                     "style=\"image-rendering:pixelated\" href=\"data:image/png;base64,{}\"/>\n",
                     left, top, side, side, base64(heatmap_png(result, block)));
}
#endif

}  // namespace

std::string heatmap_svg(const analysis::Result &result, const std::string &title,
                        [[maybe_unused]] LargeMatrix large) {
  const std::size_t n = result.section_labels.size();
  const double natural = std::clamp(kMatrixWidth / std::max<double>(1, static_cast<double>(n)),
                                    kMinCell, kMaxCell);
  const double side = std::min(natural * static_cast<double>(n), kMaxMatrixSide);
  const double cell = side / std::max<double>(1, static_cast<double>(n));
  const std::size_t step = static_cast<std::size_t>(std::ceil(kMinLabelPitch / cell));
  const double font = std::min(12.0, cell * static_cast<double>(step) * 0.8);
  double widest = 0;
  for (std::size_t i = 0; i < n; i += step)
    widest = std::max(widest, text_width(short_label(result.section_labels[i]), font));
  const double margin = widest + 8;
  const double left = margin, top = 36 + margin;

  // How the matrix is drawn: a square a pair, else one image of a pixel a
  // block, else (no PNG encoder, or asked) squares of blocks.
  std::size_t block = 1;
  bool image = false;
  if (n > kMaxVectorSections) {
#ifdef QVDEP_HAVE_PNG
    image = large == LargeMatrix::raster;
#endif
    block = block_for(n, image ? kMaxImageSide : kMaxVectorSections);
  }
  const std::string reduction =
      block == 1 ? ""
                 : fmt::format("each {} is the mean of the {} \u00d7 {} pairs of its block: {} "
                               "cross-sections in {} \u00d7 {} blocks",
                               image ? "pixel" : "square", block, block, analysis::grouped(n),
                               analysis::grouped(blocks_along(n, block)),
                               analysis::grouped(blocks_along(n, block)));
  // Right of the matrix the colour bar, its ticks and its title; the
  // picture as wide as these and the title need.
  const std::string bar_title = "correlation \u03c1";
  const double bar_x = left + side + 20;
  const double width = std::max(bar_x + std::max(50.0, text_width(bar_title, 10) + 4),
                                left + text_width(title, 14) + 8);
  const double height = top + side + (reduction.empty() ? 20 : 40);

  std::string svg = fmt::format(
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"{:.0f}\" height=\"{:.0f}\" "
      "viewBox=\"0 0 {:.0f} {:.0f}\" font-family=\"sans-serif\">\n"
      "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n"
      "<text x=\"{:.1f}\" y=\"22\" font-size=\"14\">{}</text>\n",
      width, height, width, height, left, xml_escape(title));
#ifdef QVDEP_HAVE_PNG
  if (image)
    svg += raster_image(result, block, left, top, side);
  else
#endif
    svg += cell_squares(result, block, left, top, cell);
  for (std::size_t i = 0; i < n; i += step) {
    const std::string &name = result.section_labels[i];
    const std::string shown = short_label(name);
    // A shortened label keeps its whole name as its tooltip.
    const std::string tooltip =
        shown.size() == name.size() ? "" : "<title>" + xml_escape(name) + "</title>";
    const std::string text = tooltip + xml_escape(shown);
    const double centre = cell * (static_cast<double>(i) + 0.5);
    svg += fmt::format("<text x=\"{:.2f}\" y=\"{:.2f}\" font-size=\"{:.1f}\" text-anchor=\"end\" "
                       "dominant-baseline=\"middle\">{}</text>\n",
                       left - 4, top + centre, font, text);
    svg += fmt::format("<text transform=\"translate({:.2f},{:.2f}) rotate(-90)\" "
                       "font-size=\"{:.1f}\" dominant-baseline=\"middle\">{}</text>\n",
                       left + centre, top - 4, font, text);
  }
  // Colour bar: -1 at the bottom, +1 at the top, under its title.
  svg += "<defs><linearGradient id=\"scale\" x1=\"0\" y1=\"1\" x2=\"0\" y2=\"0\">\n";
  for (int k = 0; k <= 8; ++k) {
    const double rho = -1.0 + 0.25 * k;
    svg += fmt::format("<stop offset=\"{:.3f}\" stop-color=\"{}\"/>\n", k / 8.0, colour(rho));
  }
  svg += "</linearGradient></defs>\n";
  svg += fmt::format("<text x=\"{:.2f}\" y=\"{:.2f}\" font-size=\"10\">{}</text>\n", bar_x,
                     top - 8, bar_title);
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
  if (!reduction.empty())
    svg += fmt::format("<text x=\"{:.2f}\" y=\"{:.2f}\" font-size=\"11\">{}</text>\n", left,
                       top + side + 28, xml_escape(reduction));
  svg += "</svg>\n";
  return svg;
}

}  // namespace qvd::report
