// Text inside an SVG document.
#ifndef QVDEP_REPORT_SVG_TEXT_H
#define QVDEP_REPORT_SVG_TEXT_H

#include <string>

namespace qvd::report {

// The text with &, <, > and " written as XML entities.
std::string xml_escape(const std::string &text);

}  // namespace qvd::report

#endif
