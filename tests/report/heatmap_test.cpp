// The heatmaps on result records made by hand: the colour scale against
// colours worked out by hand, a small matrix drawn pair by pair, a large one
// as one embedded image whose every pixel has its pair's or its block's
// colour (read back with libpng), or as block means, the reduction stated,
// long labels shortened whole, and the file's size bounded. Runs on Windows
// too, without the PNG cases there.
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
#include "random_result.h"
#ifdef QVDEP_HAVE_PNG
#include "decoded_png.h"
#endif

namespace qvd::report {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
using testing::random_result;

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
    EXPECT_NE(svg.find("each square is the mean of the " + std::to_string(c.block) + " \u00d7 " +
                       std::to_string(c.block) + " pairs of its block"),
              std::string::npos);
    const std::size_t first = svg.find("<rect x=", svg.find("<g shape-rendering"));
    const std::string fill = svg.substr(svg.find("fill=\"", first) + 6, 7);
    EXPECT_EQ(fill, hex_colour(correlation_colour(sum / used))) << c.n;
  }
}

// A label past 20 characters keeps 19 and an ellipsis, cut between UTF-8
// characters, and its whole name as the tooltip; shorter ones stay whole.
TEST(HeatmapSvg, LongLabelsAreShortenedWholeWithTheirNameAsTooltip) {
  analysis::Result r = random_result(3, 1);
  r.section_labels = {"Wolfsburger Maschinenbau & Werkzeugfabrik",
                      "\u00c4rztekammer Nordrhein-Westf.", "exactly twenty chars"};
  const std::string svg = heatmap_svg(r, "t");
  EXPECT_EQ(count(svg, "<title>Wolfsburger Maschinenbau &amp; Werkzeugfabrik</title>"
                       "Wolfsburger Maschin\u2026</text>"), 2u);
  EXPECT_EQ(count(svg, "<title>\u00c4rztekammer Nordrhein-Westf.</title>"
                       "\u00c4rztekammer Nordrhe\u2026</text>"), 2u);
  EXPECT_EQ(count(svg, ">exactly twenty chars</text>"), 2u);
  EXPECT_EQ(count(svg, "<title>"), 4u);
  EXPECT_EQ(count(svg, ">correlation \u03c1</text>"), 1u);  // the colour bar's title
}

#ifdef QVDEP_HAVE_PNG
// Every pixel has the colour of its block's mean (with block 1, of its
// pair), to one unit a channel (the image's 255 levels); the grey of a
// block with no usable pair exactly. The means are formed here pair by
// pair, in long double.
void expect_blocks_coloured(const testing::DecodedPng &png, const analysis::Result &r,
                            std::size_t block) {
  const std::size_t n = r.section_labels.size(), m = (n + block - 1) / block;
  ASSERT_TRUE(png.ok);
  ASSERT_EQ(png.width, m);
  ASSERT_EQ(png.height, m);
  std::size_t wrong = 0;
  for (std::size_t y = 0; y < m; ++y)
    for (std::size_t x = 0; x < m; ++x) {
      long double sum = 0;
      int used = 0;
      for (std::size_t i = y * block; i < std::min(n, (y + 1) * block); ++i)
        for (std::size_t j = x * block; j < std::min(n, (x + 1) * block); ++j)
          if (!std::isnan(analysis::correlation_of(r, i, j))) sum += analysis::correlation_of(r, i, j), ++used;
      const double mean = used > 0 ? static_cast<double>(sum / used) : kNaN;
      const Rgb8 want = correlation_colour(mean);
      const std::vector<int> got = png.pixel(x, y);
      const int slack = used == 0 ? 0 : 1;
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
    EXPECT_EQ(svg.find("is the mean of"), std::string::npos);  // a pixel a pair
    // About a byte a pair at most (deflate's overhead on incompressible
    // pixels), as base64, besides labels and colour bar.
    EXPECT_LE(svg.size(), 80'000 + n * n * 14 / 10);
    expect_blocks_coloured(testing::decode_png(testing::embedded_png(svg)), r, 1);
  }
}

// Past kMaxImageSide cross-sections a pixel is a block's mean, the blocks
// of the last row and column cut at the edge, and the picture says so.
TEST(HeatmapPng, BlocksHaveTheColourOfTheirMean) {
  for (const auto &[n, block] : {std::pair<std::size_t, std::size_t>{37, 4}, {10, 1}, {10, 10}}) {
    SCOPED_TRACE(n);
    const analysis::Result r = random_result(n, 13);
    expect_blocks_coloured(testing::decode_png(heatmap_png(r, block)), r, block);
  }
  const analysis::Result r = random_result(kMaxImageSide + 1, 17);
  const std::string svg = heatmap_svg(r, "t");
  EXPECT_NE(svg.find("each pixel is the mean of the 2 \u00d7 2 pairs of its block: 1,601 "
                     "cross-sections in 801 \u00d7 801 blocks"),
            std::string::npos);
  expect_blocks_coloured(testing::decode_png(testing::embedded_png(svg)), r, 2);
}
#endif

}  // namespace
}  // namespace qvd::report
