// A reference host for the module: the host's services implemented at the
// byte offsets the module calls them by, with pools that record every block
// and can be told to fail, and a fault handler that records what the module
// raises, separately for each thread. Tests drive the module through its real binary interface with it,
// and so does the command-line tool.
//
//   qvd::host::ReferenceHost host(path_to_libqvdep_so);
//   ExtensionDescriptor *d = host.create_descriptor();
//   TestInstance *t = host.create_instance(d);
//   DependenceRequest request{...};
//   std::int32_t status = host.run(t, &request).status;
#ifndef QVDEP_HOST_REFERENCE_HOST_H
#define QVDEP_HOST_REFERENCE_HOST_H

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "host/guarded_call.h"
#include "host/module_library.h"
#include "qvdep.h"

namespace qvd::host {

enum class EventKind {
  create_pool,
  destroy_pool,
  alloc,
  free,
  create_journal,
  close_journal,
  lookup_locale,
};

// One call the module made into the host.
struct HostEvent {
  EventKind kind = EventKind::alloc;
  int pool = -1;              // pool id (create/destroy/alloc/free)
  std::uint64_t size = 0;     // alloc
  std::uint32_t flags = 0;    // alloc
  const void *block = nullptr;  // alloc result (null when refused), free argument
  std::string name;           // create_pool, create_journal
  std::u16string locale_name; // lookup_locale
  std::int64_t locale_length = 0;
  void *context = nullptr;    // create_pool, create_journal
  PoolParams pool_params{};
  JournalParams journal_params{};
  int journal = -1;           // create_journal, close_journal
};

// Every block ever granted, in order.
struct BlockRecord {
  int pool;
  std::uint64_t size;
  std::uint32_t flags;
  void *address;
  bool freed = false;         // given back with free
  bool pool_destroyed = false;  // released with its pool
  std::size_t grant = 0;      // its place among the blocks its pool granted
};

// Ways to make the host fail, for testing the module's failure paths.
struct FaultPlan {
  bool fail_create_pool = false;
  bool fail_create_journal = false;
  bool refuse_zero_size = false;  // alloc(0) yields null
  bool zero_fill = false;         // blocks start zeroed (else 0xA5 bytes)
  bool null_locale = false;       // lookup_locale yields null
  long refuse_alloc = 0;          // the k-th alloc from now is refused (0: none)
  std::uint64_t max_block = 0;    // larger allocs are refused (0: no limit)
};

struct RunOutcome {
  std::int32_t status = -1;  // what run returned; -1 when the call trapped
  CallOutcome call;
};

// One host serves one loaded module, whose services pointer and fault
// handler are module-wide: several threads share the host and may call the
// module at the same time through different instances. The host's services
// (pools, journals, locale, fault recording) may be called from any thread.
// The inspection and configuration members below (events, blocks, faults,
// refuse_alloc) are for a moment when no module call is running, except
// raised_faults and clear_raised_faults, which see the calling thread's
// faults only, and the members for freed copies and forget_history, which
// are safe at any time.
class ReferenceHost {
 public:
  // Loads the module and records the host's services with qvextent.
  explicit ReferenceHost(const std::string &module_path);
  ~ReferenceHost();
  ReferenceHost(const ReferenceHost &) = delete;
  ReferenceHost &operator=(const ReferenceHost &) = delete;

  const ModuleEntryPoints &module() const { return library_.entry(); }
  HostServices *services();
  void *context() { return &context_token_; }

  FaultPlan &faults() { return faults_; }
  void refuse_alloc(long k);  // the k-th alloc request from now yields null

  // Module calls, each under the host's trap setting.
  ExtensionDescriptor *create_descriptor();
  TestInstance *create_instance(ExtensionDescriptor *descriptor);
  void destroy_instance(TestInstance *instance);
  void release_descriptor(ExtensionDescriptor *descriptor);
  RunOutcome run(TestInstance *instance, DependenceRequest *request);
  // Frees a block the module left with the host (the correlations).
  void free_block(TestInstance *instance, void *block);

  // What the module did.
  const std::vector<HostEvent> &events() const { return events_; }
  void clear_events() { events_.clear(); }
  // Drops the events and the records of blocks, pools and journals no longer
  // live, for a caller that runs the module without end and inspects only
  // what is live. It holds the host's lock and touches nothing a live pool,
  // block or journal needs, so it may run while other threads call the
  // module (it renumbers blocks(), which they must not be reading).
  void forget_history();
  const std::vector<BlockRecord> &blocks() const { return blocks_; }
  std::vector<BlockRecord> live_blocks() const;
  int live_pools() const;
  int open_journals() const;
  // Codes the module raised on the calling thread.
  const std::vector<std::uint32_t> &raised_faults() const;
  void clear_raised_faults();

  // Opt-in: keep a copy of the contents of every block the module gives
  // back with free, until it is taken or its pool is destroyed. Lets a host
  // read work buffers, such as the residuals, that the module frees before
  // it returns. The copies belong to their pool, so runs on other threads
  // neither see nor disturb them, and they go with the instance.
  void keep_freed_copies(bool keep);
  // The number of blocks the instance's pool has granted so far; the
  // instance's own block is the first (0), a run's buffers follow in the
  // order it takes them.
  std::size_t blocks_granted(const TestInstance *instance) const;
  // Moves out the copy of the `grant`-th block the instance's pool granted,
  // as the module freed it; empty when there is none (not freed, not kept,
  // or taken already).
  std::vector<unsigned char> take_freed_copy(const TestInstance *instance,
                                             std::size_t grant);
  // Every copy still held, keyed by the block's index in blocks().
  std::unordered_map<std::size_t, std::vector<unsigned char>> freed_copies() const;
  void clear_freed_copies();

  struct Pool;
  struct Journal;
  struct Services;

 private:
  friend struct Callbacks;
  HostPool *make_pool(const PoolParams *params, void *context, const char *name);
  void *alloc(Pool &pool, std::uint64_t size, std::uint32_t flags);
  void free(Pool &pool, void *block);
  void destroy(Pool &pool);
  HostJournal *make_journal(const JournalParams *params, void *context,
                            const char *name);
  void close(Journal &journal);
  void *lookup_locale(const std::uint16_t *name, std::int64_t length);
  static void record_fault(std::uint32_t code, void *self);
  const Pool *pool_with_id(int id) const;

  ModuleLibrary library_;
  std::unique_ptr<Services> services_;
  std::vector<std::unique_ptr<Pool>> pools_;
  std::vector<std::unique_ptr<Journal>> journals_;
  std::vector<HostEvent> events_;
  std::vector<BlockRecord> blocks_;
  std::unordered_map<const void *, std::size_t> live_;  // block -> blocks_ index
  mutable std::unordered_map<std::thread::id, std::vector<std::uint32_t>> raised_;
  mutable std::mutex mutex_;  // guards every member the services change
  bool keep_freed_copies_ = false;
  FaultPlan faults_;
  long allocs_since_plan_ = 0;
  int next_pool_id_ = 0;
  int next_journal_id_ = 0;
  int context_token_ = 0;
  int locale_token_ = 0;
};

}  // namespace qvd::host

#endif
