#include "analysis/common/errors.h"

#include <cstdio>

namespace qvd::analysis {

std::string excerpt(std::string_view text) {
  std::string out;
  const std::size_t shown = text.size() > kExcerptLength ? kExcerptLength : text.size();
  for (std::size_t i = 0; i < shown; ++i) {
    const unsigned char ch = static_cast<unsigned char>(text[i]);
    if (ch == '\n') {
      out += "\\n";
    } else if (ch == '\t') {
      out += "\\t";
    } else if (ch == '\r') {
      out += "\\r";
    } else if (ch < 0x20 || ch == 0x7F) {
      char escape[5];
      std::snprintf(escape, sizeof escape, "\\x%02X", ch);
      out += escape;
    } else {
      out += static_cast<char>(ch);
    }
  }
  if (shown < text.size()) out += "...";
  return out;
}

std::string grouped(std::size_t count) {
  const std::string digits = std::to_string(count);
  std::string text;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) text.push_back(',');
    text.push_back(digits[i]);
  }
  return text;
}

}  // namespace qvd::analysis
