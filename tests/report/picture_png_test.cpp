// The pictures as PNG (librsvg through qvdep_report_png) against
// rsvg-convert's rendering of the same SVG; labels that reach no edge of
// the picture; and the heatmap of 5,000 cross-sections, which must stay
// small enough for librsvg's XML parser and render.
#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "decoded_png.h"
#include "random_result.h"
#include "report/density_svg.h"
#include "report/heatmap_svg.h"
#include "report/svg_png.h"
#include "support/process.h"
#include "support/scratch.h"

namespace qvd::report {
namespace {

using testing::decode_png;
using testing::DecodedPng;
using testing::random_result;

// rsvg-convert's PNG of an SVG text, decoded.
DecodedPng rendered_by_rsvg_convert(const std::string &svg) {
  const auto in = testing::write_scratch("picture.svg", svg);
  const auto out = testing::scratch() / "picture.png";
  const testing::ProcessRun run =
      testing::run_process(QVDEP_RSVG_CONVERT, {in.string(), "-o", out.string()});
  EXPECT_EQ(run.status, 0) << run.err;
  return decode_png(testing::slurp(out));
}

TEST(PicturePng, IsThePictureTheSvgShows) {
  analysis::Result r = random_result(400, 3), small = random_result(10, 4);
  small.shape.periods = r.shape.periods = 20;
  for (const std::string &svg :
       {heatmap_svg(small, "ten"), heatmap_svg(r, "four hundred"), density_svg(r, "density")}) {
    const DecodedPng mine = decode_png(svg_to_png(svg)), theirs = rendered_by_rsvg_convert(svg);
    ASSERT_TRUE(mine.ok && theirs.ok);
    ASSERT_EQ(mine.width, theirs.width);
    ASSERT_EQ(mine.height, theirs.height);
    std::size_t differ = 0;
    for (std::size_t k = 0; k < mine.rgb.size(); ++k)
      differ += std::abs(mine.rgb[k] - theirs.rgb[k]) > 2;
    EXPECT_EQ(differ, 0u);
  }
  EXPECT_THROW(svg_to_png("<svg"), std::runtime_error);
}

// Labels of wide letters, accents and a long title: nothing is drawn in
// the picture's outermost pixels, so nothing ran past its edges.
TEST(PicturePng, LongLabelsAndTitleStayInsideThePicture) {
  analysis::Result r = random_result(6, 5);
  r.section_labels = {"MMMMMMMMMMMMMMMMMMMMMMMMMMMM", "WWWWWWWWWWWWWWWWWWW",
                      "\u00c4\u00d6\u00dc\u00c4\u00d6\u00dc", "x", "Wolfsburger Maschinenbau AG",
                      "@@@@@@@@@@@@"};
  const DecodedPng png = decode_png(svg_to_png(
      heatmap_svg(r, "Residual correlations: a rather long dependent variable, a/long/path.csv")));
  ASSERT_TRUE(png.ok);
  std::size_t inked = 0;
  for (std::size_t y = 0; y < png.height; ++y)
    for (std::size_t x = 0; x < png.width; ++x) {
      if (x > 1 && y > 1 && x + 2 < png.width && y + 2 < png.height) continue;
      const std::vector<int> p = png.pixel(x, y);
      inked += p[0] + p[1] + p[2] < 3 * 250;
    }
  EXPECT_EQ(inked, 0u);
}

TEST(PicturePng, FiveThousandCrossSectionsStaySmallAndRender) {
  const analysis::Result r = random_result(5000, 7);
  const std::string svg = heatmap_svg(r, "five thousand");
  EXPECT_LT(svg.size(), 5'000'000u);
  EXPECT_NE(svg.find("each pixel is the mean of the 4 \u00d7 4 pairs of its block: 5,000 "
                     "cross-sections in 1,250 \u00d7 1,250 blocks"),
            std::string::npos);
  EXPECT_TRUE(rendered_by_rsvg_convert(svg).ok);
}

}  // namespace
}  // namespace qvd::report
