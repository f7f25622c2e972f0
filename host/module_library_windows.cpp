// Loading the built module on Windows: LoadLibraryW and GetProcAddress, the
// way a Windows host does.
//
// The DLL exports only the four entry points of the binary interface; the
// fault handler stand-in of other systems does not exist there, because
// faults arrive as structured exceptions. So that host code stays the same on
// both systems, set_exception_handler is filled with the host's own
// registration (structured_fault_handler.h): the vectored exception handler
// of call_under_traps delivers every code the module raises to it.
#include <windows.h>

#include <stdexcept>
#include <string>

#include "host/module_library.h"
#include "host/structured_fault_handler.h"

namespace qvd::host {
namespace {

std::wstring widen(const std::string &path) {
  const int length = MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, nullptr, 0);
  if (length <= 0) throw std::runtime_error("module path is not UTF-8: " + path);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, wide.data(), length);
  wide.resize(static_cast<std::size_t>(length - 1));
  return wide;
}

template <class Function>
Function symbol(HMODULE handle, const char *name) {
  FARPROC address = GetProcAddress(handle, name);
  if (address == nullptr)
    throw std::runtime_error(std::string("module lacks entry point ") + name);
  return reinterpret_cast<Function>(reinterpret_cast<void *>(address));
}

}  // namespace

ModuleLibrary::ModuleLibrary(const std::string &path) {
  HMODULE module = LoadLibraryW(widen(path).c_str());
  if (module == nullptr)
    throw std::runtime_error("cannot load module " + path + ": error " +
                             std::to_string(GetLastError()));
  handle_ = module;
  try {
    entry_.qvextent = symbol<decltype(entry_.qvextent)>(module, "qvextent");
    entry_.qvextver = symbol<decltype(entry_.qvextver)>(module, "qvextver");
    entry_.qvdep = symbol<decltype(entry_.qvdep)>(module, "qvdep");
    entry_.qvrelct1 = symbol<decltype(entry_.qvrelct1)>(module, "qvrelct1");
    entry_.set_exception_handler = &set_structured_fault_handler;
  } catch (...) {
    FreeLibrary(module);
    throw;
  }
}

ModuleLibrary::~ModuleLibrary() { FreeLibrary(static_cast<HMODULE>(handle_)); }

std::string module_path_beside_executable() {
  std::wstring buffer(32768, L'\0');
  const DWORD length =
      GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
  if (length == 0 || length >= buffer.size()) return "qvdep.dll";
  buffer.resize(length);
  buffer.resize(buffer.find_last_of(L"\\/") + 1);
  const int size = WideCharToMultiByte(CP_UTF8, 0, buffer.c_str(), -1, nullptr, 0,
                                       nullptr, nullptr);
  std::string narrow(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, buffer.c_str(), -1, narrow.data(), size, nullptr,
                      nullptr);
  narrow.resize(static_cast<std::size_t>(size - 1));
  return narrow + "qvdep.dll";
}

}  // namespace qvd::host
