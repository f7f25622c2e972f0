// A whole file mapped into memory read-only, so that a large CSV file is
// parsed where the operating system's page cache holds it, with no copy.
#ifndef QVDEP_ANALYSIS_INPUT_MAPPED_FILE_H
#define QVDEP_ANALYSIS_INPUT_MAPPED_FILE_H

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace qvd::analysis {

class MappedFile {
 public:
  // The mapped file, or nothing when it cannot be mapped (not a regular
  // file, empty, or no such file): the caller then reads it as a stream,
  // which also reports the error.
  static std::optional<MappedFile> open(const std::string &path);

  MappedFile(MappedFile &&other) noexcept;
  MappedFile &operator=(MappedFile &&) = delete;
  MappedFile(const MappedFile &) = delete;
  ~MappedFile();

  std::string_view bytes() const { return {data_, size_}; }

 private:
  MappedFile(const char *data, std::size_t size) : data_(data), size_(size) {}
  const char *data_ = nullptr;
  std::size_t size_ = 0;
};

}  // namespace qvd::analysis

#endif
