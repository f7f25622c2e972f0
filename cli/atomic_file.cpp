#include "cli/atomic_file.h"

#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <system_error>

namespace qvd::cli {

void write_file_atomically(const std::string &path, const std::string &contents) {
  namespace fs = std::filesystem;
  const fs::path target(path);
  std::random_device entropy;
  const fs::path temporary =
      target.parent_path() / (target.filename().string() + ".tmp" + std::to_string(entropy()));
  bool written = false;
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (out) {
      out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
      out.close();
      written = !out.fail();
    }
  }
  std::error_code error;
  if (written) fs::rename(temporary, target, error);
  if (!written || error) {
    fs::remove(temporary, error);
    throw std::runtime_error(path + ": cannot be written");
  }
}

}  // namespace qvd::cli
