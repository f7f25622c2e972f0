// The reference host with its service calls recorded and its failures on
// demand, for tests of the module's face towards the host. It is the
// reference host (every member of reference_host.h works as there) with
// service hooks of its own that
//  - log every call the module makes into the host as an event,
//  - keep a record of every block granted, freed or released with its pool,
//  - fill each new block with 0xA5 bytes (or zeros), so that a byte the
//    module leaves unwritten shows,
//  - refuse what a FaultPlan says: a pool, a journal, the k-th block from
//    now, empty blocks, blocks beyond a size; or give a null locale.
//
//   qvd::host::RecordingHost host(QVDEP_MODULE_PATH);
//   host.refuse_alloc(3);
//   ... host.events(), host.live_blocks() ...
//
// The services may be called from any thread. The inspection and
// configuration members are for a moment when no module call runs.
#ifndef QVDEP_TESTS_SUPPORT_RECORDING_HOST_H
#define QVDEP_TESTS_SUPPORT_RECORDING_HOST_H

#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "host/reference_host.h"
#include "host/service_hooks.h"
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
  int pool = -1;              // pool id (create/destroy/alloc/free); -1 when refused
  std::uint64_t size = 0;     // alloc; free of a block the pool holds
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

// Every block granted, in order.
struct BlockRecord {
  int pool;
  std::uint64_t size;
  std::uint32_t flags;
  void *address;
  bool freed = false;           // given back with free
  bool pool_destroyed = false;  // released with its pool
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

class RecordingHost : public ReferenceHost, private ServiceHooks {
 public:
  explicit RecordingHost(const std::string &module_path);
  ~RecordingHost();

  FaultPlan &faults() { return faults_; }
  void refuse_alloc(long k);  // the k-th alloc request from now yields null

  const std::vector<HostEvent> &events() const { return events_; }
  void clear_events() { events_.clear(); }
  const std::vector<BlockRecord> &blocks() const { return blocks_; }
  std::vector<BlockRecord> live_blocks() const;
  // Drops the events and the records of blocks no longer live, for a
  // caller that runs the module without end and inspects only what is live.
  void forget_history();

 private:
  bool create_pool(const HostPool *pool, const PoolParams &params, void *context,
                   const char *name) override;
  bool alloc(const HostPool *pool, std::uint64_t size, std::uint32_t flags) override;
  void block_granted(const HostPool *pool, void *block, std::uint64_t size,
                     std::uint32_t flags) override;
  void free(const HostPool *pool, const void *block) override;
  void destroy_pool(const HostPool *pool) override;
  bool create_journal(const HostJournal *journal, const JournalParams &params, void *context,
                      const char *name) override;
  void close_journal(const HostJournal *journal) override;
  bool lookup_locale(const std::uint16_t *name, std::int64_t length) override;
  int pool_id(const HostPool *pool) const;

  mutable std::mutex mutex_;  // guards every member the hooks change
  std::vector<HostEvent> events_;
  std::vector<BlockRecord> blocks_;
  std::unordered_map<const void *, std::size_t> live_;  // block -> blocks_ index
  std::unordered_map<const HostPool *, int> pools_;     // live pools' ids
  std::unordered_map<const HostJournal *, int> journals_;  // open journals' ids
  FaultPlan faults_;
  long allocs_since_plan_ = 0;
  int next_pool_id_ = 0;
  int next_journal_id_ = 0;
};

}  // namespace qvd::host

#endif
