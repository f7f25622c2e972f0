#include "report/heatmap_svg.h"

#include <algorithm>
#include <cmath>

#include <fmt/format.h>

namespace qvd::report {
namespace {

constexpr double kMatrixWidth = 720;      // pixels the matrix aims for
constexpr double kMaxCell = 28, kMinCell = 1.5;
constexpr double kMinLabelPitch = 7;      // pixels between written labels
constexpr std::size_t kMaxLabelChars = 20;

struct Rgb {
  double r, g, b;
};
constexpr Rgb kNegative{33, 102, 172}, kZero{247, 247, 247}, kPositive{178, 24, 43};
constexpr const char kUnusable[] = "#bdbdbd";

std::string colour(double rho) {
  if (std::isnan(rho)) return kUnusable;
  const double x = std::clamp(rho, -1.0, 1.0);
  const Rgb &end = x < 0 ? kNegative : kPositive;
  const double w = std::fabs(x);
  auto mix = [&](double zero, double far) {
    return static_cast<int>(std::lround(zero + (far - zero) * w));
  };
  return fmt::format("#{:02x}{:02x}{:02x}", mix(kZero.r, end.r), mix(kZero.g, end.g),
                     mix(kZero.b, end.b));
}

std::string xml_escape(const std::string &text) {
  std::string out;
  for (char ch : text) {
    switch (ch) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += ch;
    }
  }
  return out;
}

std::string short_label(const std::string &label) {
  return label.size() <= kMaxLabelChars ? label : label.substr(0, kMaxLabelChars - 1) + "~";
}

}  // namespace

std::string heatmap_svg(const analysis::Result &result, const std::string &title) {
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
  svg += "<g shape-rendering=\"crispEdges\">\n";
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = 0; j < n; ++j)
      svg += fmt::format("<rect x=\"{:.2f}\" y=\"{:.2f}\" width=\"{:.2f}\" height=\"{:.2f}\" "
                         "fill=\"{}\"/>\n",
                         left + cell * static_cast<double>(j), top + cell * static_cast<double>(i),
                         cell, cell, colour(result.correlations[i * n + j]));
  svg += "</g>\n";
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
                     bar_x, top + side + 6, kUnusable, bar_x + 20, top + side + 11);
  svg += "</svg>\n";
  return svg;
}

}  // namespace qvd::report
