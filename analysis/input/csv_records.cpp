#include "analysis/input/csv_records.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <limits>
#include <system_error>
#include <utility>

namespace qvd::analysis {

std::optional<double> parse_value(std::string_view raw, bool &too_large) {
  const std::string_view text = trim(raw);
  too_large = false;
  if (text.empty() || text == "NA" || text == ".") return std::numeric_limits<double>::quiet_NaN();
  // from_chars takes no leading '+'; one is skipped, but not before a sign.
  const std::size_t skip = text[0] == '+' && text.size() > 1 && text[1] != '-' ? 1 : 0;
  double value = 0;
  const char *end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data() + skip, end, value);
  if (ptr != end || (ec != std::errc() && ec != std::errc::result_out_of_range)) return std::nullopt;
  // from_chars reports underflow and overflow alike; a number too small
  // for a double rounds to zero (or a subnormal), as any reader rounds it,
  // and only one too large is refused. strtod tells them apart and rounds;
  // its end must agree with from_chars' (a locale with a decimal comma
  // would stop early and the number stays refused).
  if (ec == std::errc::result_out_of_range) {
    const std::string copy(text.substr(skip));
    char *stop = nullptr;
    const double rounded = std::strtod(copy.c_str(), &stop);
    if (stop == copy.c_str() + copy.size() && std::isfinite(rounded)) return rounded;
  }
  if (ec == std::errc::result_out_of_range || !std::isfinite(value)) {
    too_large = true;
    return std::nullopt;
  }
  return value;
}

Text read_all(std::istream &in, const std::string &source) {
  std::streambuf *buffer = in.rdbuf();
  std::size_t capacity = std::size_t{1} << 16;
  Text text{std::make_unique_for_overwrite<char[]>(capacity), 0};
  for (;;) {
    if (text.size == capacity) {
      auto larger = std::make_unique_for_overwrite<char[]>(2 * capacity);
      std::memcpy(larger.get(), text.bytes.get(), text.size);
      text.bytes = std::move(larger);
      capacity *= 2;
    }
    const std::streamsize got = buffer->sgetn(text.bytes.get() + text.size,
                                              static_cast<std::streamsize>(capacity - text.size));
    if (got <= 0) break;
    text.size += static_cast<std::size_t>(got);
  }
  if (in.bad()) throw InputError(source + ": cannot be read");
  return text;
}

FileText file_text(const std::string &path) {
  if (path == "-") return {"<stdin>", std::nullopt, read_all(std::cin, "<stdin>")};
  if (std::optional<MappedFile> mapped = MappedFile::open(path))
    return {path, std::move(mapped), {}};
  std::ifstream in(path, std::ios::binary);
  if (!in) throw InputError(path + ": cannot be opened");
  return {path, std::nullopt, read_all(in, path)};
}

}  // namespace qvd::analysis
