#include "support/recording_host.h"

#include <cstring>
#include <utility>

namespace qvd::host {
namespace {

HostEvent event_of(EventKind kind) {
  HostEvent event;
  event.kind = kind;
  return event;
}

}  // namespace

RecordingHost::RecordingHost(const std::string &module_path) : ReferenceHost(module_path) {
  set_hooks(this);
}

// The reference host outlives these hooks by a moment: it must not call them.
RecordingHost::~RecordingHost() { set_hooks(nullptr); }

void RecordingHost::refuse_alloc(long k) {
  const std::lock_guard<std::mutex> lock(mutex_);
  faults_.refuse_alloc = k;
  allocs_since_plan_ = 0;
}

int RecordingHost::pool_id(const HostPool *pool) const {
  const auto found = pools_.find(pool);
  return found != pools_.end() ? found->second : -1;
}

bool RecordingHost::create_pool(const HostPool *pool, const PoolParams &params, void *context,
                                const char *name) {
  const std::lock_guard<std::mutex> lock(mutex_);
  HostEvent event = event_of(EventKind::create_pool);
  event.name = name;
  event.context = context;
  event.pool_params = params;
  if (!faults_.fail_create_pool) {
    event.pool = next_pool_id_++;
    pools_[pool] = event.pool;
  }
  events_.push_back(event);
  return !faults_.fail_create_pool;
}

// A refusal is recorded here; a granted block when it is granted.
bool RecordingHost::alloc(const HostPool *pool, std::uint64_t size, std::uint32_t flags) {
  const std::lock_guard<std::mutex> lock(mutex_);
  ++allocs_since_plan_;
  const bool refused =
      (faults_.refuse_alloc > 0 && allocs_since_plan_ == faults_.refuse_alloc) ||
      (faults_.refuse_zero_size && size == 0) ||
      (faults_.max_block != 0 && size > faults_.max_block);
  if (!refused) return true;
  HostEvent event = event_of(EventKind::alloc);
  event.pool = pool_id(pool);
  event.size = size;
  event.flags = flags;
  events_.push_back(event);
  return false;
}

void RecordingHost::block_granted(const HostPool *pool, void *block, std::uint64_t size,
                                  std::uint32_t flags) {
  const std::lock_guard<std::mutex> lock(mutex_);
  std::memset(block, faults_.zero_fill ? 0x00 : 0xA5, size);
  HostEvent event = event_of(EventKind::alloc);
  event.pool = pool_id(pool);
  event.size = size;
  event.flags = flags;
  event.block = block;
  live_[block] = blocks_.size();
  blocks_.push_back({event.pool, size, flags, block});
  events_.push_back(event);
}

// A block of another pool, or one not live, is recorded but not freed.
void RecordingHost::free(const HostPool *pool, const void *block) {
  const std::lock_guard<std::mutex> lock(mutex_);
  HostEvent event = event_of(EventKind::free);
  event.pool = pool_id(pool);
  event.block = block;
  const auto live = live_.find(block);
  if (live != live_.end() && blocks_[live->second].pool == event.pool) {
    blocks_[live->second].freed = true;
    event.size = blocks_[live->second].size;
    live_.erase(live);
  }
  events_.push_back(event);
}

void RecordingHost::destroy_pool(const HostPool *pool) {
  const std::lock_guard<std::mutex> lock(mutex_);
  HostEvent event = event_of(EventKind::destroy_pool);
  event.pool = pool_id(pool);
  events_.push_back(event);
  for (auto live = live_.begin(); live != live_.end();) {
    BlockRecord &record = blocks_[live->second];
    if (record.pool != event.pool) {
      ++live;
      continue;
    }
    record.pool_destroyed = true;
    live = live_.erase(live);
  }
  pools_.erase(pool);
}

bool RecordingHost::create_journal(const HostJournal *journal, const JournalParams &params,
                                   void *context, const char *name) {
  const std::lock_guard<std::mutex> lock(mutex_);
  HostEvent event = event_of(EventKind::create_journal);
  event.name = name;
  event.context = context;
  event.journal_params = params;
  if (!faults_.fail_create_journal) {
    event.journal = next_journal_id_++;
    journals_[journal] = event.journal;
  }
  events_.push_back(event);
  return !faults_.fail_create_journal;
}

void RecordingHost::close_journal(const HostJournal *journal) {
  const std::lock_guard<std::mutex> lock(mutex_);
  HostEvent event = event_of(EventKind::close_journal);
  const auto found = journals_.find(journal);
  if (found != journals_.end()) {
    event.journal = found->second;
    journals_.erase(found);
  }
  events_.push_back(event);
}

bool RecordingHost::lookup_locale(const std::uint16_t *name, std::int64_t length) {
  const std::lock_guard<std::mutex> lock(mutex_);
  HostEvent event = event_of(EventKind::lookup_locale);
  event.locale_name.assign(name, name + length);
  event.locale_length = length;
  events_.push_back(event);
  return !faults_.null_locale;
}

std::vector<BlockRecord> RecordingHost::live_blocks() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  std::vector<BlockRecord> live;
  for (const auto &record : blocks_)
    if (!record.freed && !record.pool_destroyed) live.push_back(record);
  return live;
}

void RecordingHost::forget_history() {
  const std::lock_guard<std::mutex> lock(mutex_);
  events_.clear();
  std::vector<BlockRecord> kept;
  for (const BlockRecord &record : blocks_) {
    if (record.freed || record.pool_destroyed) continue;
    live_[record.address] = kept.size();
    kept.push_back(record);
  }
  blocks_ = std::move(kept);
}

}  // namespace qvd::host
