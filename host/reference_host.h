// The reference host: loads the module and serves it. Its services are
// laid out at the byte offsets the module calls them by (qvdep.h): pools
// that hand out blocks and take them back, journals, a locale; module calls
// are made under the host's trap setting (guarded_call.h), and the faults
// the module raises are reported with the run that raised them. The
// analysis library, hence the command-line tool and the Python package,
// runs the module through it.
//
//   qvd::host::ReferenceHost host(path_to_libqvdep_so);
//   ExtensionDescriptor *d = host.create_descriptor();
//   TestInstance *t = host.create_instance(d);
//   DependenceRequest request{...};
//   std::int32_t status = host.run(t, &request).status;
//
// dependence_test.h does all of that in one call.
#ifndef QVDEP_HOST_REFERENCE_HOST_H
#define QVDEP_HOST_REFERENCE_HOST_H

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "host/guarded_call.h"
#include "host/module_library.h"
#include "host/owned_array.h"
#include "host/service_hooks.h"
#include "qvdep.h"

namespace qvd::host {

struct RunOutcome {
  std::int32_t status = -1;  // what run returned; -1 when the call trapped
  CallOutcome call;
  // The codes the module raised on the calling thread during the run, in
  // order; the module resumed after each.
  std::vector<std::uint32_t> faults;
};

// One host serves one loaded module, whose services pointer and fault
// handler are module-wide: several threads share the host and may call the
// module at the same time, each through its own instance. Every member may
// be called from any thread, except set_hooks.
//
// The host holds what the module has taken and not given back, and nothing
// else: a destroyed pool, a closed journal or a finished run leaves no
// record behind, so a process may run the module without end.
class ReferenceHost {
 public:
  // Loads the module, records the host's services with qvextent and
  // registers the host's fault handler. Throws std::runtime_error when the
  // module cannot be loaded.
  explicit ReferenceHost(const std::string &module_path, ServiceHooks *hooks = nullptr);
  ~ReferenceHost();
  ReferenceHost(const ReferenceHost &) = delete;
  ReferenceHost &operator=(const ReferenceHost &) = delete;

  const ModuleEntryPoints &module() const { return library_.entry(); }
  HostServices *services();
  void *context() { return &context_token_; }
  // Null: none. Only while no module call runs; the hooks must outlive
  // their use.
  void set_hooks(ServiceHooks *hooks) { hooks_.store(hooks); }

  // Module calls, each under the host's trap setting.
  ExtensionDescriptor *create_descriptor();
  TestInstance *create_instance(ExtensionDescriptor *descriptor);
  void destroy_instance(TestInstance *instance);
  void release_descriptor(ExtensionDescriptor *descriptor);
  // Runs the request on the instance. With `residuals`, the host keeps the
  // run's QVDEP_BUFFER_RESIDUALS-th block of the instance's pool when the
  // module frees it, and hands it over there: N*T doubles, period-major
  // (element t*N + i, missing where cross-section i has no complete
  // observation at period t). It is left empty when the run did not get as
  // far as freeing it.
  RunOutcome run(TestInstance *instance, DependenceRequest *request,
                 OwnedArray<double> *residuals = nullptr);
  // Frees a block the module left with the host (the correlations).
  void free_block(TestInstance *instance, void *block);
  // Takes such a block out of the instance's pool, as `count` doubles: the
  // caller owns it, and destroying the instance leaves it. Empty when the
  // pool does not hold it.
  OwnedArray<double> take_block(TestInstance *instance, void *block, std::size_t count);

  // What the host holds now.
  int live_pools() const;
  std::size_t live_block_count() const;
  int open_journals() const;

  struct Pool;
  struct Journal;
  struct Services;

 private:
  friend struct Callbacks;
  HostPool *make_pool(const PoolParams *params, void *context, const char *name);
  void *alloc(Pool &pool, std::uint64_t size, std::uint32_t flags);
  void free(Pool &pool, void *block);
  void destroy(Pool &pool);
  HostJournal *make_journal(const JournalParams *params, void *context, const char *name);
  void close(Journal &journal);
  void *lookup_locale(const std::uint16_t *name, std::int64_t length);
  static void record_fault(std::uint32_t code, void *self);

  ModuleLibrary library_;
  std::unique_ptr<Services> services_;
  std::atomic<ServiceHooks *> hooks_;
  mutable std::mutex mutex_;  // guards the pools' blocks and the two maps
  std::unordered_map<const Pool *, std::unique_ptr<Pool>> pools_;
  std::unordered_map<const Journal *, std::unique_ptr<Journal>> journals_;
  int context_token_ = 0;
  int locale_token_ = 0;
};

}  // namespace qvd::host

#endif
