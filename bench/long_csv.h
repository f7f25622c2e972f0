// A benchmark panel written as a long-format CSV file, the way pandas'
// DataFrame.to_csv(index=False) writes one: a header "id,t,y,x0,..,x{K-1}",
// then one row per cross-section and period, cross-sections 1..N in turn,
// periods 1..T within each, every value in the fewest digits that read
// back to the same double (Python's repr; std::to_chars' shortest form).
// A missing value is an empty cell.
#ifndef QVDEP_BENCH_LONG_CSV_H
#define QVDEP_BENCH_LONG_CSV_H

#include <charconv>
#include <cmath>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/dependence_run.h"

// Writes the file and returns its size in bytes. Throws std::runtime_error
// when it cannot be written.
inline long write_long_csv(const std::string &path, const qvd::host::Panel &panel) {
  std::FILE *out = std::fopen(path.c_str(), "wb");
  if (out == nullptr) throw std::runtime_error("cannot write " + path);
  const int k = panel.regressors;
  std::string text = "id,t,y";
  for (int v = 0; v < k; ++v) text += ",x" + std::to_string(v);
  text += '\n';
  auto put = [&text](double value) {
    text += ',';
    if (std::isnan(value)) return;
    char digits[32];
    text.append(digits, std::to_chars(digits, digits + sizeof digits, value).ptr);
  };
  long bytes = 0;
  const double *v = panel.values.data();
  for (int i = 1; i <= panel.sections; ++i) {
    for (int s = 1; s <= panel.periods; ++s, v += k + 1) {
      text += std::to_string(i);
      text += ',';
      text += std::to_string(s);
      put(v[k]);
      for (int r = 0; r < k; ++r) put(v[r]);
      text += '\n';
    }
    // One cross-section at a time keeps the buffer small.
    if (std::fwrite(text.data(), 1, text.size(), out) != text.size()) break;
    bytes += static_cast<long>(text.size());
    text.clear();
  }
  if (std::fclose(out) != 0 || !text.empty())
    throw std::runtime_error("cannot write " + path);
  return bytes;
}

// The same panel's values in the file's row and column order (y, x0, ..,
// x{K-1}), as native doubles: what a reader whose decimal conversion is not
// correctly rounded (R's read.csv) takes in place of the file's numbers.
inline void write_long_values(const std::string &path, const qvd::host::Panel &panel) {
  std::FILE *out = std::fopen(path.c_str(), "wb");
  if (out == nullptr) throw std::runtime_error("cannot write " + path);
  const std::size_t width = static_cast<std::size_t>(panel.regressors) + 1;
  std::vector<double> row(width);
  bool written = true;
  for (std::size_t c = 0; written && c + width <= panel.values.size(); c += width) {
    row[0] = panel.values[c + width - 1];
    for (std::size_t r = 0; r + 1 < width; ++r) row[r + 1] = panel.values[c + r];
    written = std::fwrite(row.data(), sizeof(double), width, out) == width;
  }
  if (std::fclose(out) != 0 || !written) throw std::runtime_error("cannot write " + path);
}

#endif
