// Temporary files removed when the tool is interrupted. On SIGINT, SIGTERM
// or SIGHUP (SIGINT and SIGTERM on Windows) the handler unlinks every
// temporary file registered here and ends the process with status 128 +
// the signal's number, as a shell reports a process a signal ended: an
// interrupted run leaves neither its outputs nor their staging behind.
//
// The handler does only what is async-signal-safe: it reads a fixed table
// of paths through lock-free atomic flags, calls unlink and _exit. A path is
// registered before its file is created and let go after the file is
// renamed or removed, so no signal can fall between a file and its entry.
#ifndef QVDEP_CLI_INTERRUPT_CLEANUP_H
#define QVDEP_CLI_INTERRUPT_CLEANUP_H

#include <string>

namespace qvd::cli {

// Installs the handlers; call once, early in main.
void remove_temporaries_on_signals();

// A temporary file's entry in the table, for as long as it lives. Throws
// std::length_error for a path the table cannot hold (longer than 4 kB, or
// more than 16 files at once).
class TemporaryEntry {
 public:
  explicit TemporaryEntry(const std::string &path);
  TemporaryEntry(TemporaryEntry &&other) noexcept;
  TemporaryEntry &operator=(TemporaryEntry &&) = delete;
  TemporaryEntry(const TemporaryEntry &) = delete;
  ~TemporaryEntry();  // lets the entry go (the file is renamed or removed by then)

 private:
  int slot_;
};

// Holds the signals off while it lives (POSIX: this thread's mask), so
// that renaming a run's files over their targets is not cut short between
// one file and the next; a signal that came meanwhile is taken at its end.
class SignalsHeld {
 public:
  SignalsHeld();
  ~SignalsHeld();
  SignalsHeld(const SignalsHeld &) = delete;
  SignalsHeld &operator=(const SignalsHeld &) = delete;
};

}  // namespace qvd::cli

#endif
