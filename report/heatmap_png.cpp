#include "report/heatmap_png.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <vector>

#ifdef QVDEP_HAVE_PNG
#include <png.h>
#endif

#include "report/colour_scale.h"

namespace qvd::report {
namespace {

constexpr std::size_t kPictureSide = 720;

#ifdef QVDEP_HAVE_PNG
constexpr int kLevelsPerUnit = 127;               // levels 0..254 stand for -1..+1
constexpr std::uint8_t kUnusableIndex = 2 * kLevelsPerUnit + 1;

std::uint8_t level_of(double rho) {
  if (std::isnan(rho)) return kUnusableIndex;
  const double x = std::clamp(rho, -1.0, 1.0);
  return static_cast<std::uint8_t>(std::lround((x + 1.0) * kLevelsPerUnit));
}

std::array<Rgb8, 256> palette() {
  std::array<Rgb8, 256> colours{};
  for (int k = 0; k < kUnusableIndex; ++k)
    colours[static_cast<std::size_t>(k)] =
        correlation_colour(static_cast<double>(k - kLevelsPerUnit) / kLevelsPerUnit);
  colours[kUnusableIndex] = correlation_colour(std::nan(""));
  return colours;
}
#endif

}  // namespace

int heatmap_png_scale(std::size_t sections) {
  const std::size_t whole = kPictureSide / std::max<std::size_t>(1, sections);
  return static_cast<int>(std::max<std::size_t>(1, whole));
}

#ifdef QVDEP_HAVE_PNG
std::string heatmap_png(const analysis::Result &result, int scale) {
  const std::size_t n = result.section_labels.size(), s = static_cast<std::size_t>(scale);
  if (scale < 1 || n == 0 || n > 0x7fffffff / s)
    throw std::invalid_argument("heatmap_png: no cross-sections or a scale out of range");
  const std::size_t side = n * s;
  std::vector<std::uint8_t> pixels(side * side);
  for (std::size_t i = 0; i < n; ++i) {
    std::uint8_t *row = pixels.data() + i * s * side;
    for (std::size_t j = 0; j < n; ++j)
      std::fill_n(row + j * s, s, level_of(analysis::correlation_of(result, i, j)));
    for (std::size_t copy = 1; copy < s; ++copy)
      std::copy_n(row, side, row + copy * side);
  }
  const std::array<Rgb8, 256> colours = palette();
  static_assert(sizeof(Rgb8) == 3);

  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(side);
  image.height = static_cast<png_uint_32>(side);
  image.format = PNG_FORMAT_RGB_COLORMAP;
  image.colormap_entries = 256;
  // One pass with speed before size (a few hundred kB more at N = 2,000),
  // into a buffer of the largest size the encoding can take.
  image.flags = PNG_IMAGE_FLAG_FAST;
  png_alloc_size_t bytes = PNG_IMAGE_PNG_SIZE_MAX(image);
  std::string png(bytes, '\0');
  if (!png_image_write_to_memory(&image, png.data(), &bytes, 0, pixels.data(), 0, colours.data()))
    throw std::runtime_error(std::string("the heatmap cannot be encoded as PNG: ") + image.message);
  png.resize(bytes);
  return png;
}
#endif

}  // namespace qvd::report
