#include "cli/atomic_file.h"

#include <fstream>
#include <random>
#include <stdexcept>
#include <system_error>
#include <utility>

namespace qvd::cli {

namespace fs = std::filesystem;

StagedFiles::~StagedFiles() {
  std::error_code ignored;
  for (const Staged &s : staged_)
    if (!s.temporary.empty()) fs::remove(s.temporary, ignored);
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
  TemporaryEntry entry(temporary.string());
  auto remove = [&] {
    std::error_code ignored;
    fs::remove(temporary, ignored);
  };
  bool written = false;
  try {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (out) {
      write(out);
      out.close();
      written = !out.fail();
    }
  } catch (...) {
    remove();
    throw;
  }
  if (!written) {
    remove();
    throw std::runtime_error(path + ": cannot be written");
  }
  staged_.push_back({temporary, target, std::move(entry)});
}

void StagedFiles::commit() {
  const SignalsHeld held;
  for (Staged &s : staged_) {
    std::error_code error;
    fs::rename(s.temporary, s.target, error);
    if (error) throw std::runtime_error(s.target.string() + ": cannot be written");
    s.temporary.clear();  // nothing left to remove
  }
  staged_.clear();
}

}  // namespace qvd::cli
