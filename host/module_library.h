// Loading the built module and finding its entry points, the way a host
// does: dlopen here, LoadLibraryW on Windows (module_library_windows.cpp).
#ifndef QVDEP_HOST_MODULE_LIBRARY_H
#define QVDEP_HOST_MODULE_LIBRARY_H

#include <string>

#include "qvdep.h"

namespace qvd::host {

struct ModuleEntryPoints {
  decltype(&::qvextent) qvextent = nullptr;
  decltype(&::qvextver) qvextver = nullptr;
  decltype(&::qvdep) qvdep = nullptr;
  decltype(&::qvrelct1) qvrelct1 = nullptr;
  // The module's export elsewhere; on Windows the host's own registration
  // for the structured exceptions the module raises.
  void (*set_exception_handler)(QvdepExceptionHandler, void *) = nullptr;
};

class ModuleLibrary {
 public:
  // Throws std::runtime_error when the library or an entry point is missing.
  explicit ModuleLibrary(const std::string &path);
  ~ModuleLibrary();
  ModuleLibrary(const ModuleLibrary &) = delete;
  ModuleLibrary &operator=(const ModuleLibrary &) = delete;

  const ModuleEntryPoints &entry() const { return entry_; }

 private:
  void *handle_ = nullptr;
  ModuleEntryPoints entry_;
};

// The module next to a program: the directory of the running executable,
// then "libqvdep.so" there ("qvdep.dll" on Windows).
std::string module_path_beside_executable();

}  // namespace qvd::host

#endif
