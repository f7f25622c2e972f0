// An SVG picture of the report library rendered as a PNG image by librsvg
// with cairo, at the document's own size in pixels: the same picture the
// SVG shows (axes, labels, colour bar, legend), as a viewer draws it.
//
// In a library of its own (qvdep_report_png), built where Debian's
// librsvg2 is found (QVDEP_HAVE_RSVG; not in the Windows cross build), so
// that only the command-line tool links librsvg.
#ifndef QVDEP_REPORT_SVG_PNG_H
#define QVDEP_REPORT_SVG_PNG_H

#include <string>

namespace qvd::report {

// The PNG file's bytes. Throws std::runtime_error when librsvg cannot read
// the document or cairo cannot draw or encode it.
std::string svg_to_png(const std::string &svg);

}  // namespace qvd::report

#endif
