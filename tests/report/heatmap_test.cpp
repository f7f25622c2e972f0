// The heatmaps on result records made by hand: the colour scale against
// colours worked out by hand, a small matrix drawn pair by pair, a large one
// as one embedded image whose every pixel has its pair's colour (read back
// with libpng), or as block means, and the file's size bounded. Runs on
// Windows too, without the PNG cases there.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "report/colour_scale.h"
#include "report/heatmap_png.h"
#include "report/heatmap_svg.h"
#ifdef QVDEP_HAVE_PNG
#include "decoded_png.h"
#endif

namespace qvd::report {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// n cross-sections with symmetric correlations uniform on (-1, 1), 1 on
// the diagonal and about one pair in twenty NaN.
analysis::Result random_result(std::size_t n, unsigned seed) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> rho(-1.0, 1.0), u(0.0, 1.0);
  analysis::Result r;
  r.dependent = "y";
  for (std::size_t i = 0; i < n; ++i) r.section_labels.push_back("s" + std::to_string(i));
  r.correlations = host::OwnedArray<double>(analysis::packed_cells(n));
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = 0; j <= i; ++j)
      r.correlations[analysis::packed_index(i, j)] = i == j ? 1.0 : u(rng) < 0.05 ? kNaN : rho(rng);
  return r;
}

std::size_t count(const std::string &text, const std::string &what) {
  std::size_t k = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++k;
  return k;
}

TEST(ColourScale, MixesLinearlyTowardsTheNearerEnd) {
  const struct {
    double rho;
    int r, g, b;
  } cases[] = {
      {-1, 33, 102, 172},   {0, 247, 247, 247},  {1, 178, 24, 43},
      {-0.5, 140, 175, 210}, {0.5, 213, 136, 145}, {0.25, 230, 191, 196},
      {-7, 33, 102, 172},   {3, 178, 24, 43},     {kNaN, 189, 189, 189},
      {-0.0, 247, 247, 247}, {1e-9, 247, 247, 247},
  };
  for (const auto &c : cases) {
    const Rgb8 got = correlation_colour(c.rho);
    EXPECT_EQ((std::vector<int>{got.r, got.g, got.b}), (std::vector<int>{c.r, c.g, c.b})) << c.rho;
  }
  EXPECT_EQ(hex_colour(correlation_colour(1)), "#b2182b");
  EXPECT_EQ(hex_colour(correlation_colour(kNaN)), "#bdbdbd");
}

TEST(HeatmapSvg, UpToTheVectorLimitEveryPairIsASquare) {
  for (std::size_t n : {std::size_t{2}, std::size_t{37}, kMaxVectorSections}) {
    const std::string svg = heatmap_svg(random_result(n, 5), "t");
    // The background, the colour bar and the n/a key besides the pairs.
    EXPECT_EQ(count(svg, "<rect "), n * n + 3) << n;
    EXPECT_EQ(count(svg, "<image"), 0u) << n;
  }
}

// Past the vector limit without an image: squares of block means, at most
// kMaxVectorSections a side, each the colour of its block's mean.
TEST(HeatmapSvg, BlockMeansBoundTheSquares) {
  const struct {
    std::size_t n, block, side;
  } cases[] = {{151, 2, 76}, {400, 3, 134}, {1000, 7, 143}};
  for (const auto &c : cases) {
    const analysis::Result r = random_result(c.n, 9);
    const std::string svg = heatmap_svg(r, "t", LargeMatrix::block_means);
    EXPECT_EQ(count(svg, "<rect "), c.side * c.side + 3) << c.n;
    EXPECT_LE(svg.size(), 2'000'000u) << c.n;
    // The first block: the mean of its pairs that could be correlated.
    double sum = 0;
    int used = 0;
    for (std::size_t i = 0; i < c.block; ++i)
      for (std::size_t j = 0; j < c.block; ++j)
        if (!std::isnan(analysis::correlation_of(r, i, j))) sum += analysis::correlation_of(r, i, j), ++used;
    const std::size_t first = svg.find("<rect x=", svg.find("<g shape-rendering"));
    const std::string fill = svg.substr(svg.find("fill=\"", first) + 6, 7);
    EXPECT_EQ(fill, hex_colour(correlation_colour(sum / used))) << c.n;
  }
}

TEST(HeatmapPng, ScaleKeepsSmallMatricesNear720Pixels) {
  const struct {
    std::size_t n;
    int scale;
  } cases[] = {{0, 720}, {1, 720}, {10, 72}, {150, 4}, {300, 2}, {361, 1}, {2000, 1}};
  for (const auto &c : cases) EXPECT_EQ(heatmap_png_scale(c.n), c.scale) << c.n;
}

#ifdef QVDEP_HAVE_PNG
std::string from_base64(const std::string &text) {
  std::string out;
  std::uint32_t word = 0;
  int bits = 0;
  for (char ch : text) {
    int v = ch >= 'A' && ch <= 'Z'   ? ch - 'A'
            : ch >= 'a' && ch <= 'z' ? ch - 'a' + 26
            : ch >= '0' && ch <= '9' ? ch - '0' + 52
            : ch == '+'              ? 62
            : ch == '/'              ? 63
                                     : -1;
    if (v < 0) break;
    word = (word << 6) | static_cast<std::uint32_t>(v);
    bits += 6;
    if (bits >= 8) out += static_cast<char>((word >> (bits -= 8)) & 0xff);
  }
  return out;
}

// Every pixel (scaled: every pixel of a pair's square) has the colour of its
// pair's correlation, to one unit a channel (the image's 255 levels); the
// grey of an unusable pair exactly.
void expect_pairs_coloured(const testing::DecodedPng &png, const analysis::Result &r, int scale) {
  const std::size_t n = r.section_labels.size(), s = static_cast<std::size_t>(scale);
  ASSERT_TRUE(png.ok);
  ASSERT_EQ(png.width, n * s);
  ASSERT_EQ(png.height, n * s);
  std::size_t wrong = 0;
  for (std::size_t y = 0; y < n * s; ++y)
    for (std::size_t x = 0; x < n * s; ++x) {
      const double rho = analysis::correlation_of(r, y / s, x / s);
      const Rgb8 want = correlation_colour(rho);
      const std::vector<int> got = png.pixel(x, y);
      const int slack = std::isnan(rho) ? 0 : 1;
      wrong += std::abs(got[0] - want.r) > slack || std::abs(got[1] - want.g) > slack ||
               std::abs(got[2] - want.b) > slack;
    }
  EXPECT_EQ(wrong, 0u);
}

TEST(HeatmapSvg, PastTheVectorLimitTheMatrixIsOneUnsmoothedImage) {
  for (std::size_t n : {kMaxVectorSections + 1, std::size_t{400}}) {
    SCOPED_TRACE(n);
    const analysis::Result r = random_result(n, 11);
    const std::string svg = heatmap_svg(r, "t");
    EXPECT_EQ(count(svg, "<image"), 1u);
    EXPECT_EQ(count(svg, "<rect "), 3u);
    EXPECT_NE(svg.find("image-rendering=\"optimizeSpeed\""), std::string::npos);
    EXPECT_NE(svg.find("image-rendering:pixelated"), std::string::npos);
    // About a byte a pair at most (deflate's overhead on incompressible
    // pixels), as base64, besides labels and colour bar.
    EXPECT_LE(svg.size(), 80'000 + n * n * 14 / 10);
    const std::string mark = "href=\"data:image/png;base64,";
    const std::size_t at = svg.find(mark) + mark.size();
    expect_pairs_coloured(testing::decode_png(from_base64(svg.substr(at, svg.find('"', at) - at))),
                          r, 1);
  }
}

TEST(HeatmapPng, ScaledSquaresKeepTheirPairsColour) {
  for (int scale : {1, 3, 72}) {
    const analysis::Result r = random_result(10, 13);
    expect_pairs_coloured(testing::decode_png(heatmap_png(r, scale)), r, scale);
  }
}
#endif

}  // namespace
}  // namespace qvd::report
