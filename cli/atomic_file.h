// Writing a file whole or not at all: the text goes to a temporary file
// beside the target, which is renamed over the target only once it has been
// written and closed without error. A failure leaves no file behind.
#ifndef QVDEP_CLI_ATOMIC_FILE_H
#define QVDEP_CLI_ATOMIC_FILE_H

#include <string>

namespace qvd::cli {

// Throws std::runtime_error naming the path when the file cannot be written.
void write_file_atomically(const std::string &path, const std::string &contents);

}  // namespace qvd::cli

#endif
