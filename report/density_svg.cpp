#include "report/density_svg.h"

#include <algorithm>
#include <cmath>
#include <map>

#include <fmt/format.h>

#include "report/report.h"
#include "report/svg_text.h"

namespace qvd::report {
namespace {

constexpr int kGridPoints = 401;
constexpr double kInvSqrt2Pi = 0.3989422804014327;

double normal_density(double z) { return kInvSqrt2Pi * std::exp(-0.5 * z * z); }

// The value at fraction q of the sorted sample (by linear interpolation).
double quantile(std::vector<double> sorted, double q) {
  const double at = q * static_cast<double>(sorted.size() - 1);
  const std::size_t below = static_cast<std::size_t>(std::floor(at));
  const std::size_t above = std::min(below + 1, sorted.size() - 1);
  return sorted[below] + (at - static_cast<double>(below)) * (sorted[above] - sorted[below]);
}

// A step of 1, 2 or 5 times a power of ten giving about `ticks` ticks.
double tick_step(double span, int ticks) {
  const double raw = span / ticks, power = std::pow(10.0, std::floor(std::log10(raw)));
  for (double m : {1.0, 2.0, 5.0})
    if (m * power >= raw) return m * power;
  return 10 * power;
}

const analysis::TestRow *row_of(const analysis::Result &r, analysis::TestKind kind) {
  for (const auto &row : r.tests)
    if (row.kind == kind) return &row;
  return nullptr;
}

}  // namespace

CorrelationDensity correlation_density(const analysis::Result &result) {
  const std::size_t n = result.section_labels.size();
  std::vector<double> rho;
  std::map<int, long> periods;  // T_ij -> pairs
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = i + 1; j < n; ++j) {
      const double r = analysis::correlation_of(result, i, j);
      if (std::isnan(r)) continue;
      rho.push_back(r);
      ++periods[analysis::common_periods_of(result, i, j)];
    }
  CorrelationDensity d;
  d.pairs = static_cast<long>(rho.size());
  if (rho.empty()) return d;
  const double m = static_cast<double>(rho.size());
  std::sort(rho.begin(), rho.end());

  // Silverman's bandwidth, 0.9 min(sd, IQR/1.34) M^(-1/5).
  double mean = 0, squares = 0;
  for (double r : rho) mean += r / m;
  for (double r : rho) squares += (r - mean) * (r - mean);
  const double sd = rho.size() > 1 ? std::sqrt(squares / (m - 1)) : 0;
  const double spread = std::min(sd, (quantile(rho, 0.75) - quantile(rho, 0.25)) / 1.34);
  d.bandwidth = spread > 0 ? 0.9 * spread * std::pow(m, -0.2) : 0.01;

  // The range: the data and three null standard deviations at the fewest
  // periods, with room for the kernel's tails.
  const double null_sd = 1 / std::sqrt(static_cast<double>(std::max(1, periods.begin()->first)));
  d.low = std::max(-1.0, std::min(rho.front(), -3 * null_sd) - 3 * d.bandwidth);
  d.high = std::min(1.0, std::max(rho.back(), 3 * null_sd) + 3 * d.bandwidth);
  const double span = d.high - d.low;

  // Histogram of equal bins, as densities.
  const int bins = std::clamp(static_cast<int>(std::lround(std::sqrt(m))), 10, 60);
  d.bar_heights.assign(static_cast<std::size_t>(bins), 0.0);
  for (double r : rho) {
    const int b = std::clamp(static_cast<int>((r - d.low) / span * bins), 0, bins - 1);
    d.bar_heights[static_cast<std::size_t>(b)] += 1;
  }
  for (double &h : d.bar_heights) h /= m * span / bins;

  // Linear binning onto the grid, then the kernel sum over grid points.
  const double step = span / (kGridPoints - 1);
  std::vector<double> weight(kGridPoints, 0.0);
  for (double r : rho) {
    const double at = std::clamp((r - d.low) / step, 0.0, kGridPoints - 1.0);
    const int below = std::min(static_cast<int>(at), kGridPoints - 2);
    const double upper = at - below;
    weight[static_cast<std::size_t>(below)] += 1 - upper;
    weight[static_cast<std::size_t>(below) + 1] += upper;
  }
  d.x.resize(kGridPoints);
  d.estimate.assign(kGridPoints, 0.0);
  d.null_density.assign(kGridPoints, 0.0);
  for (int g = 0; g < kGridPoints; ++g) d.x[static_cast<std::size_t>(g)] = d.low + g * step;
  for (int g = 0; g < kGridPoints; ++g) {
    double sum = 0;
    for (int c = 0; c < kGridPoints; ++c)
      if (weight[static_cast<std::size_t>(c)] > 0)
        sum += weight[static_cast<std::size_t>(c)] * normal_density((g - c) * step / d.bandwidth);
    d.estimate[static_cast<std::size_t>(g)] = sum / (m * d.bandwidth);
    // Without dependence rho_ij ~ N(0, 1/T_ij): the mixture over the pairs.
    double null = 0;
    for (const auto &[t, count] : periods) {
      const double root_t = std::sqrt(static_cast<double>(t));
      null += static_cast<double>(count) / m * root_t * normal_density(d.x[static_cast<std::size_t>(g)] * root_t);
    }
    d.null_density[static_cast<std::size_t>(g)] = null;
  }
  return d;
}

std::vector<std::string> density_legend(const analysis::Result &result) {
  std::vector<std::string> lines;
  for (auto kind : {analysis::TestKind::cd, analysis::TestKind::weighted_cd_plus}) {
    const analysis::TestRow *row = row_of(result, kind);
    if (row != nullptr && row->unavailable.empty())
      lines.push_back(fmt::format("{} = {:.4g}, {}", kind == analysis::TestKind::cd ? "CD" : "CDw+",
                                  row->statistic, pvalue_phrase(row->pvalue)));
  }
  lines.push_back(fmt::format("average \u03c1 = {:.4g}", result.mean_correlation));
  lines.push_back(fmt::format("average |\u03c1| = {:.4g}", result.mean_abs_correlation));
  return lines;
}

namespace {

// Where the plot lies in the picture, and its scales: px(correlation) and
// py(density) in pixels.
struct Plot {
  static constexpr double kWidth = 760, kHeight = 440, kLeft = 60, kRight = 250, kTop = 40,
                          kBottom = 50;
  static constexpr double kPlotWidth = kWidth - kLeft - kRight, kPlotHeight = kHeight - kTop - kBottom;
  double low, high, top;  // the correlations' range and the densities' ceiling
  double px(double x) const { return kLeft + (x - low) / (high - low) * kPlotWidth; }
  double py(double y) const { return kTop + kPlotHeight - y / top * kPlotHeight; }
};

// The histogram's bars, the density without dependence and the kernel
// density.
void add_curves(std::string &svg, const CorrelationDensity &d, const Plot &p) {
  const double bin = (d.high - d.low) / static_cast<double>(d.bar_heights.size());
  svg += "<g fill=\"#d9d9d9\" stroke=\"white\" stroke-width=\"0.5\">\n";
  for (std::size_t b = 0; b < d.bar_heights.size(); ++b) {
    const double x0 = p.px(d.low + static_cast<double>(b) * bin),
                 x1 = p.px(d.low + static_cast<double>(b + 1) * bin);
    svg += fmt::format("<rect x=\"{:.2f}\" y=\"{:.2f}\" width=\"{:.2f}\" height=\"{:.2f}\"/>\n", x0,
                       p.py(d.bar_heights[b]), x1 - x0, p.py(0) - p.py(d.bar_heights[b]));
  }
  svg += "</g>\n";
  auto polyline = [&](const std::vector<double> &y, const char *style) {
    std::string points;
    for (std::size_t g = 0; g < d.x.size(); ++g)
      points += fmt::format("{:.2f},{:.2f} ", p.px(d.x[g]), p.py(y[g]));
    return fmt::format("<polyline fill=\"none\" {} points=\"{}\"/>\n", style, points);
  };
  svg += polyline(d.null_density, "stroke=\"#b2182b\" stroke-width=\"1.5\" stroke-dasharray=\"6 4\"");
  svg += polyline(d.estimate, "stroke=\"#2166ac\" stroke-width=\"2\"");
}

// The axes with their ticks and titles.
void add_axes(std::string &svg, const Plot &p) {
  constexpr double kLeft = Plot::kLeft, kTop = Plot::kTop, plot_w = Plot::kPlotWidth,
                   plot_h = Plot::kPlotHeight;
  svg += fmt::format("<g stroke=\"black\"><line x1=\"{0:.1f}\" y1=\"{1:.1f}\" x2=\"{2:.1f}\" y2=\"{1:.1f}\"/>"
                     "<line x1=\"{0:.1f}\" y1=\"{1:.1f}\" x2=\"{0:.1f}\" y2=\"{3:.1f}\"/></g>\n",
                     kLeft, kTop + plot_h, kLeft + plot_w, kTop);
  const double xs = tick_step(p.high - p.low, 8);
  for (double x = std::ceil(p.low / xs) * xs; x <= p.high + 1e-12; x += xs)
    svg += fmt::format("<line x1=\"{0:.1f}\" y1=\"{1:.1f}\" x2=\"{0:.1f}\" y2=\"{2:.1f}\" stroke=\"black\"/>"
                       "<text x=\"{0:.1f}\" y=\"{3:.1f}\" text-anchor=\"middle\">{4:g}</text>\n",
                       p.px(x), kTop + plot_h, kTop + plot_h + 5, kTop + plot_h + 18,
                       std::fabs(x) < 1e-12 ? 0.0 : x);
  const double ys = tick_step(p.top, 5);
  for (double y = 0; y <= p.top; y += ys)
    svg += fmt::format("<line x1=\"{0:.1f}\" y1=\"{1:.1f}\" x2=\"{2:.1f}\" y2=\"{1:.1f}\" stroke=\"black\"/>"
                       "<text x=\"{3:.1f}\" y=\"{4:.1f}\" text-anchor=\"end\">{5:g}</text>\n",
                       kLeft - 5, p.py(y), kLeft, kLeft - 8, p.py(y) + 4, y);
  svg += fmt::format("<text x=\"{:.1f}\" y=\"{:.1f}\" text-anchor=\"middle\">residual correlation "
                     "\u03c1\u1d62\u2c7c</text>\n",
                     kLeft + plot_w / 2, Plot::kHeight - 12);
  svg += fmt::format("<text transform=\"translate(16 {:.1f}) rotate(-90)\" text-anchor=\"middle\">"
                     "density</text>\n",
                     kTop + plot_h / 2);
}

// The legend beside the plot: the curves' keys, then the tests and averages.
void add_legend(std::string &svg, const CorrelationDensity &d, const analysis::Result &result) {
  const double lx = Plot::kLeft + Plot::kPlotWidth + 20;
  double ly = Plot::kTop + 10;
  auto line = [&](const std::string &text, double indent = 0) {
    svg += fmt::format("<text x=\"{:.1f}\" y=\"{:.1f}\">{}</text>\n", lx + indent, ly,
                       xml_escape(text));
    ly += 18;
  };
  svg += fmt::format("<rect x=\"{:.1f}\" y=\"{:.1f}\" width=\"14\" height=\"10\" fill=\"#d9d9d9\"/>\n",
                     lx, ly - 9);
  line(fmt::format("histogram of {} pairs", d.pairs), 20);
  svg += fmt::format("<line x1=\"{0:.1f}\" y1=\"{1:.1f}\" x2=\"{2:.1f}\" y2=\"{1:.1f}\" "
                     "stroke=\"#2166ac\" stroke-width=\"2\"/>\n", lx, ly - 4, lx + 14);
  line(fmt::format("kernel density (h = {:.3g})", d.bandwidth), 20);
  svg += fmt::format("<line x1=\"{0:.1f}\" y1=\"{1:.1f}\" x2=\"{2:.1f}\" y2=\"{1:.1f}\" "
                     "stroke=\"#b2182b\" stroke-width=\"1.5\" stroke-dasharray=\"6 4\"/>\n",
                     lx, ly - 4, lx + 14);
  line("no dependence: \u221aT\u1d62\u2c7c \u03c1 ~ N(0,1)", 20);
  ly += 8;
  for (const std::string &text : density_legend(result)) line(text);
}

}  // namespace

std::string density_svg(const analysis::Result &result, const std::string &title) {
  const CorrelationDensity d = correlation_density(result);
  std::string svg = fmt::format(
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"{0:.0f}\" height=\"{1:.0f}\" "
      "viewBox=\"0 0 {0:.0f} {1:.0f}\" font-family=\"sans-serif\" font-size=\"12\">\n"
      "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n"
      "<text x=\"{2:.0f}\" y=\"22\" font-size=\"14\">{3}</text>\n",
      Plot::kWidth, Plot::kHeight, Plot::kLeft, xml_escape(title));
  if (d.pairs == 0) {
    svg += fmt::format("<text x=\"{:.0f}\" y=\"{:.0f}\">no pair could be correlated</text>\n</svg>\n",
                       Plot::kLeft, Plot::kTop + Plot::kPlotHeight / 2);
    return svg;
  }
  double top = 0;
  for (const auto *curve : {&d.bar_heights, &d.estimate, &d.null_density})
    top = std::max(top, *std::max_element(curve->begin(), curve->end()));
  const Plot plot{d.low, d.high, top * 1.05};
  add_curves(svg, d, plot);
  add_axes(svg, plot);
  add_legend(svg, d, result);
  svg += "</svg>\n";
  return svg;
}

}  // namespace qvd::report
