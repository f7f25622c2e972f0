// A PNG file's pixels as 8-bit RGB, read with libpng's simplified API, for
// the tests of the heatmap's raster pictures.
#ifndef QVDEP_TESTS_REPORT_DECODED_PNG_H
#define QVDEP_TESTS_REPORT_DECODED_PNG_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <png.h>

namespace qvd::testing {

struct DecodedPng {
  bool ok = false;  // libpng read the bytes as a PNG
  std::size_t width = 0, height = 0;
  std::vector<std::uint8_t> rgb;  // row after row

  std::vector<int> pixel(std::size_t x, std::size_t y) const {
    const std::uint8_t *p = rgb.data() + 3 * (y * width + x);
    return {p[0], p[1], p[2]};
  }
};

inline DecodedPng decode_png(const std::string &bytes) {
  DecodedPng out;
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size())) return out;
  image.format = PNG_FORMAT_RGB;
  out.width = image.width;
  out.height = image.height;
  out.rgb.resize(PNG_IMAGE_SIZE(image));
  const png_color white{255, 255, 255};  // under an alpha channel, as a page is
  out.ok = png_image_finish_read(&image, &white, out.rgb.data(), 0, nullptr) != 0;
  return out;
}

}  // namespace qvd::testing

#endif
