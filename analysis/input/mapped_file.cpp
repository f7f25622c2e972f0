#include "analysis/input/mapped_file.h"

#include <utility>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace qvd::analysis {

#ifdef _WIN32

std::optional<MappedFile> MappedFile::open(const std::string &path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::nullopt;
  LARGE_INTEGER size{};
  const bool sized = GetFileSizeEx(file, &size) != 0 && size.QuadPart > 0;
  HANDLE mapping = sized ? CreateFileMappingA(file, nullptr, PAGE_READONLY, 0, 0, nullptr) : nullptr;
  CloseHandle(file);
  if (mapping == nullptr) return std::nullopt;
  const void *view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
  CloseHandle(mapping);  // the view keeps the mapping
  if (view == nullptr) return std::nullopt;
  return MappedFile(static_cast<const char *>(view), static_cast<std::size_t>(size.QuadPart));
}

MappedFile::~MappedFile() {
  if (data_ != nullptr) UnmapViewOfFile(data_);
}

#else

std::optional<MappedFile> MappedFile::open(const std::string &path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  struct stat status {};
  void *view = MAP_FAILED;
  if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_size > 0) {
    // The file is read front to back once: populate the mapping up front
    // rather than fault page by page.
    view = ::mmap(nullptr, static_cast<std::size_t>(status.st_size), PROT_READ,
                  MAP_PRIVATE | MAP_POPULATE, fd, 0);
  }
  ::close(fd);  // the mapping keeps the file
  if (view == MAP_FAILED) return std::nullopt;
  return MappedFile(static_cast<const char *>(view), static_cast<std::size_t>(status.st_size));
}

MappedFile::~MappedFile() {
  if (data_ != nullptr) ::munmap(const_cast<char *>(data_), size_);
}

#endif

MappedFile::MappedFile(MappedFile &&other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}

}  // namespace qvd::analysis
