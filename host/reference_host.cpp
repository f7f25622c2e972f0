#include "host/reference_host.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace qvd::host {

// The host's tables come first in each record, so the module's pointer to a
// table is also a pointer to the record behind it.
struct ReferenceHost::Services {
  HostServices table{};
  ReferenceHost *host = nullptr;
  struct Locale {
    LocaleServices table{};
    ReferenceHost *host = nullptr;
  } locale;
};

struct ReferenceHost::Pool {
  HostPool table{};
  ReferenceHost *host = nullptr;
  int id = 0;
  bool alive = true;
  std::size_t granted = 0;  // blocks granted so far
  // Copies of freed blocks, by their place among the blocks granted.
  std::unordered_map<std::size_t, std::vector<unsigned char>> freed_copies;
};

struct ReferenceHost::Journal {
  HostJournal table{};
  ReferenceHost *host = nullptr;
  int id = 0;
  bool open = true;
};

namespace {

HostEvent event_of(EventKind kind) {
  HostEvent event;
  event.kind = kind;
  return event;
}

}  // namespace

// The operations the module calls, as plain functions of the C interface.
struct Callbacks {
  using Pool = ReferenceHost::Pool;
  using Journal = ReferenceHost::Journal;
  using Services = ReferenceHost::Services;

  static HostPool *create_pool(HostServices *s, const PoolParams *params,
                               void *context, const char *name) {
    return reinterpret_cast<Services *>(s)->host->make_pool(params, context, name);
  }
  static HostJournal *create_journal(HostServices *s, const JournalParams *params,
                                     void *context, const char *name) {
    return reinterpret_cast<Services *>(s)->host->make_journal(params, context, name);
  }
  static void *lookup_locale(LocaleServices *l, const std::uint16_t *name,
                             std::int64_t length) {
    return reinterpret_cast<Services::Locale *>(l)->host->lookup_locale(name, length);
  }
  static void destroy(HostPool *p) {
    auto *pool = reinterpret_cast<Pool *>(p);
    pool->host->destroy(*pool);
  }
  static void *alloc(HostPool *p, std::uint64_t size, std::uint32_t flags) {
    auto *pool = reinterpret_cast<Pool *>(p);
    return pool->host->alloc(*pool, size, flags);
  }
  static void free(HostPool *p, void *block) {
    auto *pool = reinterpret_cast<Pool *>(p);
    pool->host->free(*pool, block);
  }
  static void close(HostJournal *j) {
    auto *journal = reinterpret_cast<Journal *>(j);
    journal->host->close(*journal);
  }
};

ReferenceHost::ReferenceHost(const std::string &module_path)
    : library_(module_path), services_(std::make_unique<Services>()) {
  services_->host = this;
  services_->locale.host = this;
  services_->table.create_pool = &Callbacks::create_pool;
  services_->table.create_journal = &Callbacks::create_journal;
  services_->table.locale_services = &services_->locale.table;
  services_->locale.table.lookup_locale = &Callbacks::lookup_locale;
  module().qvextent(&services_->table);
  module().set_exception_handler(&ReferenceHost::record_fault, this);
}

ReferenceHost::~ReferenceHost() {
  module().set_exception_handler(nullptr, nullptr);
  for (auto &pool : pools_)
    if (pool->alive) destroy(*pool);
}

HostServices *ReferenceHost::services() { return &services_->table; }

void ReferenceHost::refuse_alloc(long k) {
  const std::lock_guard<std::mutex> lock(mutex_);
  faults_.refuse_alloc = k;
  allocs_since_plan_ = 0;
}

void ReferenceHost::record_fault(std::uint32_t code, void *self) {
  auto *host = static_cast<ReferenceHost *>(self);
  const std::lock_guard<std::mutex> lock(host->mutex_);
  host->raised_[std::this_thread::get_id()].push_back(code);
}

// The map's entries stay where they are when it grows, and only the calling
// thread adds to its own entry, so the reference stays valid and quiet.
const std::vector<std::uint32_t> &ReferenceHost::raised_faults() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return raised_[std::this_thread::get_id()];
}

void ReferenceHost::clear_raised_faults() {
  const std::lock_guard<std::mutex> lock(mutex_);
  raised_[std::this_thread::get_id()].clear();
}

HostPool *ReferenceHost::make_pool(const PoolParams *params, void *context,
                                   const char *name) {
  const std::lock_guard<std::mutex> lock(mutex_);
  HostEvent event = event_of(EventKind::create_pool);
  event.name = name;
  event.context = context;
  event.pool_params = *params;
  if (faults_.fail_create_pool) {
    events_.push_back(event);
    return nullptr;
  }
  auto pool = std::make_unique<Pool>();
  pool->host = this;
  pool->id = next_pool_id_++;
  pool->table.destroy = &Callbacks::destroy;
  pool->table.alloc = &Callbacks::alloc;
  pool->table.free = &Callbacks::free;
  event.pool = pool->id;
  events_.push_back(event);
  pools_.push_back(std::move(pool));
  return &pools_.back()->table;
}

void *ReferenceHost::alloc(Pool &pool, std::uint64_t size, std::uint32_t flags) {
  const std::lock_guard<std::mutex> lock(mutex_);
  HostEvent event = event_of(EventKind::alloc);
  event.pool = pool.id;
  event.size = size;
  event.flags = flags;
  ++allocs_since_plan_;
  const bool refused = (faults_.refuse_alloc > 0 && allocs_since_plan_ == faults_.refuse_alloc) ||
                       (faults_.refuse_zero_size && size == 0) ||
                       (faults_.max_block != 0 && size > faults_.max_block);
  void *block = refused ? nullptr : std::malloc(size == 0 ? 1 : size);
  if (block != nullptr) {
    std::memset(block, faults_.zero_fill ? 0x00 : 0xA5, size);
    live_.emplace(block, blocks_.size());
    blocks_.push_back({pool.id, size, flags, block});
    blocks_.back().grant = pool.granted++;
  }
  event.block = block;
  events_.push_back(event);
  return block;
}

void ReferenceHost::free(Pool &pool, void *block) {
  const std::lock_guard<std::mutex> lock(mutex_);
  HostEvent event = event_of(EventKind::free);
  event.pool = pool.id;
  event.block = block;
  // A block of another pool, or one not live, is recorded but not freed.
  const auto live = live_.find(block);
  if (live != live_.end() && blocks_[live->second].pool == pool.id) {
    BlockRecord &record = blocks_[live->second];
    record.freed = true;
    event.size = record.size;
    if (keep_freed_copies_) {
      const auto *bytes = static_cast<const unsigned char *>(block);
      pool.freed_copies[record.grant].assign(bytes, bytes + record.size);
    }
    std::free(block);
    live_.erase(live);
  }
  events_.push_back(event);
}

void ReferenceHost::destroy(Pool &pool) {
  const std::lock_guard<std::mutex> lock(mutex_);
  HostEvent event = event_of(EventKind::destroy_pool);
  event.pool = pool.id;
  events_.push_back(event);
  for (auto live = live_.begin(); live != live_.end();) {
    BlockRecord &record = blocks_[live->second];
    if (record.pool != pool.id) {
      ++live;
      continue;
    }
    record.pool_destroyed = true;
    std::free(record.address);
    live = live_.erase(live);
  }
  pool.freed_copies.clear();
  pool.alive = false;
}

HostJournal *ReferenceHost::make_journal(const JournalParams *params,
                                         void *context, const char *name) {
  const std::lock_guard<std::mutex> lock(mutex_);
  HostEvent event = event_of(EventKind::create_journal);
  event.name = name;
  event.context = context;
  event.journal_params = *params;
  if (faults_.fail_create_journal) {
    events_.push_back(event);
    return nullptr;
  }
  auto journal = std::make_unique<Journal>();
  journal->host = this;
  journal->id = next_journal_id_++;
  journal->table.close = &Callbacks::close;
  event.journal = journal->id;
  events_.push_back(event);
  journals_.push_back(std::move(journal));
  return &journals_.back()->table;
}

void ReferenceHost::close(Journal &journal) {
  const std::lock_guard<std::mutex> lock(mutex_);
  HostEvent event = event_of(EventKind::close_journal);
  event.journal = journal.id;
  events_.push_back(event);
  journal.open = false;
}

void *ReferenceHost::lookup_locale(const std::uint16_t *name, std::int64_t length) {
  const std::lock_guard<std::mutex> lock(mutex_);
  HostEvent event = event_of(EventKind::lookup_locale);
  event.locale_name.assign(name, name + length);
  event.locale_length = length;
  events_.push_back(event);
  return faults_.null_locale ? nullptr : &locale_token_;
}

void ReferenceHost::forget_history() {
  const std::lock_guard<std::mutex> lock(mutex_);
  events_.clear();
  std::vector<BlockRecord> kept;
  for (const BlockRecord &record : blocks_) {
    if (record.freed || record.pool_destroyed) continue;
    live_[record.address] = kept.size();
    kept.push_back(record);
  }
  blocks_ = std::move(kept);
  std::erase_if(pools_, [](const auto &pool) { return !pool->alive; });
  std::erase_if(journals_, [](const auto &journal) { return !journal->open; });
}

void ReferenceHost::keep_freed_copies(bool keep) {
  const std::lock_guard<std::mutex> lock(mutex_);
  keep_freed_copies_ = keep;
}

// The module's pool pointer is the table at the head of the host's record.
std::size_t ReferenceHost::blocks_granted(const TestInstance *instance) const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return reinterpret_cast<const Pool *>(instance->pool)->granted;
}

std::vector<unsigned char> ReferenceHost::take_freed_copy(const TestInstance *instance,
                                                          std::size_t grant) {
  const std::lock_guard<std::mutex> lock(mutex_);
  auto &copies = reinterpret_cast<Pool *>(instance->pool)->freed_copies;
  const auto copy = copies.find(grant);
  if (copy == copies.end()) return {};
  std::vector<unsigned char> bytes = std::move(copy->second);
  copies.erase(copy);
  return bytes;
}

// Pools are recorded in the order of their ids, and forgetting keeps it.
const ReferenceHost::Pool *ReferenceHost::pool_with_id(int id) const {
  const auto found = std::lower_bound(pools_.begin(), pools_.end(), id,
                                      [](const auto &pool, int key) { return pool->id < key; });
  return found != pools_.end() && (*found)->id == id ? found->get() : nullptr;
}

std::unordered_map<std::size_t, std::vector<unsigned char>> ReferenceHost::freed_copies() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  std::unordered_map<std::size_t, std::vector<unsigned char>> copies;
  for (std::size_t b = 0; b < blocks_.size(); ++b) {
    const Pool *pool = blocks_[b].freed ? pool_with_id(blocks_[b].pool) : nullptr;
    if (pool == nullptr) continue;
    const auto copy = pool->freed_copies.find(blocks_[b].grant);
    if (copy != pool->freed_copies.end()) copies.emplace(b, copy->second);
  }
  return copies;
}

void ReferenceHost::clear_freed_copies() {
  const std::lock_guard<std::mutex> lock(mutex_);
  for (auto &pool : pools_) pool->freed_copies.clear();
}

std::vector<BlockRecord> ReferenceHost::live_blocks() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  std::vector<BlockRecord> live;
  for (const auto &record : blocks_)
    if (!record.freed && !record.pool_destroyed) live.push_back(record);
  return live;
}

int ReferenceHost::live_pools() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  int count = 0;
  for (const auto &pool : pools_) count += pool->alive ? 1 : 0;
  return count;
}

int ReferenceHost::open_journals() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  int count = 0;
  for (const auto &journal : journals_) count += journal->open ? 1 : 0;
  return count;
}

ExtensionDescriptor *ReferenceHost::create_descriptor() {
  ExtensionDescriptor *descriptor = nullptr;
  call_under_traps([&] { descriptor = module().qvdep(nullptr, context()); });
  return descriptor;
}

TestInstance *ReferenceHost::create_instance(ExtensionDescriptor *descriptor) {
  TestInstance *instance = nullptr;
  call_under_traps([&] { instance = descriptor->create_instance(context()); });
  return instance;
}

void ReferenceHost::destroy_instance(TestInstance *instance) {
  call_under_traps([&] { instance->destroy(instance); });
}

void ReferenceHost::release_descriptor(ExtensionDescriptor *descriptor) {
  call_under_traps([&] { descriptor->release(descriptor); });
}

RunOutcome ReferenceHost::run(TestInstance *instance, DependenceRequest *request) {
  RunOutcome outcome;
  std::int32_t status = -1;
  outcome.call = call_under_traps([&] { status = instance->run(instance, request); });
  outcome.status = outcome.call.trapped ? -1 : status;
  return outcome;
}

void ReferenceHost::free_block(TestInstance *instance, void *block) {
  instance->pool->free(instance->pool, block);
}

}  // namespace qvd::host
