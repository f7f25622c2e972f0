#include "host/module_library.h"

#include <dlfcn.h>
#include <unistd.h>

#include <stdexcept>

namespace qvd::host {
namespace {

template <class Function>
Function symbol(void *handle, const char *name) {
  void *address = dlsym(handle, name);
  if (address == nullptr)
    throw std::runtime_error(std::string("module lacks entry point ") + name);
  return reinterpret_cast<Function>(address);
}

}  // namespace

ModuleLibrary::ModuleLibrary(const std::string &path) {
  handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr)
    throw std::runtime_error("cannot load module " + path + ": " + dlerror());
  try {
    entry_.qvextent = symbol<decltype(entry_.qvextent)>(handle_, "qvextent");
    entry_.qvextver = symbol<decltype(entry_.qvextver)>(handle_, "qvextver");
    entry_.qvdep = symbol<decltype(entry_.qvdep)>(handle_, "qvdep");
    entry_.qvrelct1 = symbol<decltype(entry_.qvrelct1)>(handle_, "qvrelct1");
    entry_.set_exception_handler = symbol<decltype(entry_.set_exception_handler)>(
        handle_, "qvdep_set_exception_handler");
  } catch (...) {
    dlclose(handle_);
    throw;
  }
}

ModuleLibrary::~ModuleLibrary() { dlclose(handle_); }

std::string module_path_beside_executable() {
  std::string buffer(4096, '\0');
  const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  if (length <= 0) return "libqvdep.so";
  buffer.resize(static_cast<std::size_t>(length));
  const std::size_t slash = buffer.rfind('/');
  return buffer.substr(0, slash + 1) + "libqvdep.so";
}

}  // namespace qvd::host
