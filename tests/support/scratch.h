// A scratch directory for the files a test program writes, and whole-file
// reading and writing. Portable (std::filesystem only).
#ifndef QVDEP_TESTS_SUPPORT_SCRATCH_H
#define QVDEP_TESTS_SUPPORT_SCRATCH_H

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <system_error>

namespace qvd::testing {

// The program's own directory under the system's temporary directory, made
// on first use (a random name, so that concurrent programs never share one)
// and removed with everything in it when the program exits.
inline const std::filesystem::path &scratch() {
  struct Directory {
    std::filesystem::path path;
    Directory()
        : path(std::filesystem::temp_directory_path() /
               ("qvdep_test_" + std::to_string(std::random_device{}()))) {
      std::filesystem::create_directories(path);
    }
    ~Directory() {
      std::error_code ignored;
      std::filesystem::remove_all(path, ignored);
    }
  };
  static const Directory directory;
  return directory.path;
}

// The bytes of a file; empty if it cannot be read.
inline std::string slurp(const std::filesystem::path &path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Writes text, byte for byte, to the file `name` in the scratch directory
// and returns its path.
inline std::filesystem::path write_scratch(const std::string &name, const std::string &text) {
  const std::filesystem::path path = scratch() / name;
  std::ofstream(path, std::ios::binary).write(text.data(), static_cast<std::streamsize>(text.size()));
  return path;
}

}  // namespace qvd::testing

#endif
