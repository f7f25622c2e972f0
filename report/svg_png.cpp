#include "report/svg_png.h"

#include <cmath>
#include <memory>
#include <stdexcept>

#include <cairo.h>
#include <librsvg/rsvg.h>

namespace qvd::report {
namespace {

struct GErrorFree {
  void operator()(GError *e) const { g_error_free(e); }
};
struct HandleUnref {
  void operator()(RsvgHandle *h) const { g_object_unref(h); }
};
struct SurfaceDestroy {
  void operator()(cairo_surface_t *s) const { cairo_surface_destroy(s); }
};
struct ContextDestroy {
  void operator()(cairo_t *c) const { cairo_destroy(c); }
};

[[noreturn]] void fail(const char *what, GError *error) {
  const std::unique_ptr<GError, GErrorFree> owned(error);
  throw std::runtime_error(std::string("the picture cannot be rendered as PNG: ") + what +
                           (error != nullptr ? std::string(": ") + error->message : ""));
}

cairo_status_t append(void *closure, const unsigned char *data, unsigned int length) {
  static_cast<std::string *>(closure)->append(reinterpret_cast<const char *>(data), length);
  return CAIRO_STATUS_SUCCESS;
}

}  // namespace

std::string svg_to_png(const std::string &svg) {
  GError *error = nullptr;
  const std::unique_ptr<RsvgHandle, HandleUnref> handle(rsvg_handle_new_from_data(
      reinterpret_cast<const guint8 *>(svg.data()), svg.size(), &error));
  if (!handle) fail("librsvg cannot read the SVG", error);
  double width = 0, height = 0;
  if (!rsvg_handle_get_intrinsic_size_in_pixels(handle.get(), &width, &height))
    fail("the SVG gives no size in pixels", nullptr);
  const int w = static_cast<int>(std::ceil(width)), h = static_cast<int>(std::ceil(height));
  const std::unique_ptr<cairo_surface_t, SurfaceDestroy> surface(
      cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h));
  if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS)
    fail("cairo cannot make a surface of that size", nullptr);
  {
    const std::unique_ptr<cairo_t, ContextDestroy> cr(cairo_create(surface.get()));
    const RsvgRectangle viewport{0, 0, width, height};
    if (!rsvg_handle_render_document(handle.get(), cr.get(), &viewport, &error))
      fail("librsvg cannot draw the SVG", error);
  }
  std::string png;
  if (cairo_surface_write_to_png_stream(surface.get(), append, &png) != CAIRO_STATUS_SUCCESS)
    fail("cairo cannot encode the image", nullptr);
  return png;
}

}  // namespace qvd::report
