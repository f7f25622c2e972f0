// A PNG file's pixels as 8-bit RGB, read with libpng's simplified API, for
// the tests of the raster pictures; and the bytes of an image a heatmap's
// SVG embeds as base64.
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

// The bytes base64 text stands for (up to its first character that is not
// a base64 digit).
inline std::string from_base64(const std::string &text) {
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

// The bytes of the first image embedded in an SVG as a data URI.
inline std::string embedded_png(const std::string &svg) {
  const std::string mark = "href=\"data:image/png;base64,";
  const std::size_t at = svg.find(mark);
  if (at == std::string::npos) return "";
  const std::size_t from = at + mark.size();
  return from_base64(svg.substr(from, svg.find('"', from) - from));
}

}  // namespace qvd::testing

#endif
