#include "analysis/driver/shared_host.h"

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>

#include "analysis/common/errors.h"

namespace qvd::analysis {
namespace {

// The dynamic loader gives one file one copy of the module whatever path
// names it, so hosts are keyed by the file's canonical path.
std::string module_key(const std::string &path) {
  std::error_code error;
  const std::filesystem::path canonical = std::filesystem::canonical(path, error);
  return error ? path : canonical.string();
}

}  // namespace

host::ReferenceHost &shared_host(const std::string &module_path) {
  static std::mutex mutex;
  // Never destroyed: see the header.
  static auto *hosts = new std::map<std::string, std::unique_ptr<host::ReferenceHost>>;
  const std::string key = module_key(module_path);
  const std::lock_guard<std::mutex> lock(mutex);
  const auto found = hosts->find(key);
  if (found != hosts->end()) return *found->second;
  std::unique_ptr<host::ReferenceHost> made;
  try {
    made = std::make_unique<host::ReferenceHost>(module_path);
  } catch (const std::exception &e) {
    throw ModuleError(std::string("cannot load the module: ") + e.what());
  }
  return *hosts->emplace(key, std::move(made)).first->second;
}

}  // namespace qvd::analysis
