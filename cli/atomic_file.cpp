#include "cli/atomic_file.h"

#include <fstream>
#include <random>
#include <stdexcept>
#include <system_error>

namespace qvd::cli {

namespace fs = std::filesystem;

StagedFiles::~StagedFiles() {
  std::error_code ignored;
  for (const Staged &s : staged_) fs::remove(s.temporary, ignored);
}

void StagedFiles::stage(const std::string &path, const std::string &contents) {
  stage(path, [&](std::ostream &out) {
    out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
  });
}

void StagedFiles::stage(const std::string &path, const std::function<void(std::ostream &)> &write) {
  const fs::path target(path);
  std::random_device entropy;
  const fs::path temporary =
      target.parent_path() / (target.filename().string() + ".tmp" + std::to_string(entropy()));
  bool written = false;
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (out) {
      write(out);
      out.close();
      written = !out.fail();
    }
  }
  if (!written) {
    std::error_code ignored;
    fs::remove(temporary, ignored);
    throw std::runtime_error(path + ": cannot be written");
  }
  staged_.push_back({temporary, target});
}

void StagedFiles::commit() {
  while (!staged_.empty()) {
    std::error_code error;
    fs::rename(staged_.front().temporary, staged_.front().target, error);
    if (error) throw std::runtime_error(staged_.front().target.string() + ": cannot be written");
    staged_.erase(staged_.begin());
  }
}

}  // namespace qvd::cli
