// Output files written whole or not at all, and all of a run's or none: each
// text goes to a temporary file beside its target, and the temporary files
// are renamed over their targets only once every one of them (and whatever
// else the run writes) has succeeded. Files not committed are removed, also
// when a signal ends the run (interrupt_cleanup.h).
#ifndef QVDEP_CLI_ATOMIC_FILE_H
#define QVDEP_CLI_ATOMIC_FILE_H

#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "cli/interrupt_cleanup.h"

namespace qvd::cli {

class StagedFiles {
 public:
  StagedFiles() = default;
  StagedFiles(const StagedFiles &) = delete;
  StagedFiles &operator=(const StagedFiles &) = delete;
  ~StagedFiles();  // removes every temporary file not committed

  // Writes `contents` to a temporary file beside `path`. Throws
  // std::runtime_error naming the path when it cannot be written.
  void stage(const std::string &path, const std::string &contents);
  // The same with the contents written by `write` to the temporary file.
  void stage(const std::string &path, const std::function<void(std::ostream &)> &write);

  // Renames every staged file over its target, with the signals held off
  // until all are. Throws std::runtime_error naming the path of one that
  // cannot be renamed.
  void commit();

 private:
  struct Staged {
    std::filesystem::path temporary, target;
    TemporaryEntry entry;  // removed by a signal's handler until renamed
  };
  std::vector<Staged> staged_;
};

}  // namespace qvd::cli

#endif
