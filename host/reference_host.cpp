#include "host/reference_host.h"

#include <new>
#include <limits>
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
  struct Block {
    std::uint64_t size;
    std::size_t grant;  // its place among the blocks the pool granted
  };
  HostPool table{};
  ReferenceHost *host = nullptr;
  std::unordered_map<const void *, Block> blocks;  // granted, not yet freed
  std::size_t granted = 0;
  // A run that wants its residuals: the grant to copy, and where to.
  std::size_t residual_grant = std::numeric_limits<std::size_t>::max();
  OwnedArray<double> *residuals = nullptr;
};

struct ReferenceHost::Journal {
  HostJournal table{};
  ReferenceHost *host = nullptr;
};

namespace {

// The module's blocks come from the program's operator new, as OwnedArray's
// do, so that a block can be handed to a caller as it lies.
void release_block(const void *block) { ::operator delete(const_cast<void *>(block)); }

// Where the module's faults go: the run in progress on this thread, if any.
// A fault is raised on the thread whose call causes it, so no lock is needed.
thread_local std::vector<std::uint32_t> *t_run_faults = nullptr;

}  // namespace

// The operations the module calls, as plain functions of the C interface.
struct Callbacks {
  using Pool = ReferenceHost::Pool;
  using Journal = ReferenceHost::Journal;
  using Services = ReferenceHost::Services;

  static HostPool *create_pool(HostServices *s, const PoolParams *params, void *context,
                               const char *name) {
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

ReferenceHost::ReferenceHost(const std::string &module_path, ServiceHooks *hooks)
    : library_(module_path), services_(std::make_unique<Services>()), hooks_(hooks) {
  services_->host = this;
  services_->locale.host = this;
  services_->table.create_pool = &Callbacks::create_pool;
  services_->table.create_journal = &Callbacks::create_journal;
  services_->table.locale_services = &services_->locale.table;
  services_->locale.table.lookup_locale = &Callbacks::lookup_locale;
  module().qvextent(&services_->table);
  module().set_exception_handler(&ReferenceHost::record_fault, this);
}

// Whatever the module still holds goes with the host, without a word to the
// hooks.
ReferenceHost::~ReferenceHost() {
  module().set_exception_handler(nullptr, nullptr);
  for (auto &[key, pool] : pools_)
    for (auto &[block, record] : pool->blocks) release_block(block);
}

HostServices *ReferenceHost::services() { return &services_->table; }

void ReferenceHost::record_fault(std::uint32_t code, void *) {
  if (t_run_faults != nullptr) t_run_faults->push_back(code);
}

HostPool *ReferenceHost::make_pool(const PoolParams *params, void *context,
                                   const char *name) {
  auto pool = std::make_unique<Pool>();
  pool->host = this;
  pool->table.destroy = &Callbacks::destroy;
  pool->table.alloc = &Callbacks::alloc;
  pool->table.free = &Callbacks::free;
  ServiceHooks *hooks = hooks_.load();
  if (hooks != nullptr && !hooks->create_pool(&pool->table, *params, context, name))
    return nullptr;
  HostPool *table = &pool->table;
  const std::lock_guard<std::mutex> lock(mutex_);
  pools_.emplace(pool.get(), std::move(pool));
  return table;
}

void *ReferenceHost::alloc(Pool &pool, std::uint64_t size, std::uint32_t flags) {
  ServiceHooks *hooks = hooks_.load();
  if (hooks != nullptr && !hooks->alloc(&pool.table, size, flags)) return nullptr;
  if (size > std::numeric_limits<std::size_t>::max()) return nullptr;
  void *block = ::operator new(size == 0 ? 1 : static_cast<std::size_t>(size), std::nothrow);
  if (block == nullptr) return nullptr;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    pool.blocks.emplace(block, Pool::Block{size, pool.granted++});
  }
  if (hooks != nullptr) hooks->block_granted(&pool.table, block, size, flags);
  return block;
}

// A block of another pool, or one not live, is ignored. The residual block
// of a run that wants it is handed over instead of released: the block is
// the run's own, and so is its destination.
void ReferenceHost::free(Pool &pool, void *block) {
  if (ServiceHooks *hooks = hooks_.load()) hooks->free(&pool.table, block);
  OwnedArray<double> *residuals = nullptr;
  std::uint64_t size = 0;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto live = pool.blocks.find(block);
    if (live == pool.blocks.end()) return;
    size = live->second.size;
    if (live->second.grant == pool.residual_grant) residuals = pool.residuals;
    pool.blocks.erase(live);
  }
  if (residuals != nullptr)
    *residuals = OwnedArray<double>::adopt(static_cast<double *>(block),
                                           static_cast<std::size_t>(size / sizeof(double)));
  else
    release_block(block);
}

void ReferenceHost::destroy(Pool &pool) {
  if (ServiceHooks *hooks = hooks_.load()) hooks->destroy_pool(&pool.table);
  std::unique_ptr<Pool> owned;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto found = pools_.find(&pool);
    if (found == pools_.end()) return;
    owned = std::move(found->second);
    pools_.erase(found);
  }
  for (auto &[block, record] : owned->blocks) release_block(block);
}

HostJournal *ReferenceHost::make_journal(const JournalParams *params, void *context,
                                         const char *name) {
  auto journal = std::make_unique<Journal>();
  journal->host = this;
  journal->table.close = &Callbacks::close;
  ServiceHooks *hooks = hooks_.load();
  if (hooks != nullptr && !hooks->create_journal(&journal->table, *params, context, name))
    return nullptr;
  HostJournal *table = &journal->table;
  const std::lock_guard<std::mutex> lock(mutex_);
  journals_.emplace(journal.get(), std::move(journal));
  return table;
}

void ReferenceHost::close(Journal &journal) {
  if (ServiceHooks *hooks = hooks_.load()) hooks->close_journal(&journal.table);
  std::unique_ptr<Journal> owned;  // goes once the lock is given up
  const std::lock_guard<std::mutex> lock(mutex_);
  const auto found = journals_.find(&journal);
  if (found == journals_.end()) return;
  owned = std::move(found->second);
  journals_.erase(found);
}

void *ReferenceHost::lookup_locale(const std::uint16_t *name, std::int64_t length) {
  ServiceHooks *hooks = hooks_.load();
  if (hooks != nullptr && !hooks->lookup_locale(name, length)) return nullptr;
  return &locale_token_;
}

int ReferenceHost::live_pools() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(pools_.size());
}

std::size_t ReferenceHost::live_block_count() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  std::size_t count = 0;
  for (const auto &[key, pool] : pools_) count += pool->blocks.size();
  return count;
}

int ReferenceHost::open_journals() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(journals_.size());
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

// The instance's pool is the table at the head of one of the host's pool
// records. The residual block is found by counting the pool's grants from
// the start of the run (qvdep.h fixes the order of the run's buffers); the
// instance is this run's alone, so no other run's blocks are counted.
RunOutcome ReferenceHost::run(TestInstance *instance, DependenceRequest *request,
                              OwnedArray<double> *residuals) {
  auto *pool = reinterpret_cast<Pool *>(instance->pool);
  if (residuals != nullptr) {
    *residuals = {};
    const std::lock_guard<std::mutex> lock(mutex_);
    pool->residual_grant = pool->granted + QVDEP_BUFFER_RESIDUALS;
    pool->residuals = residuals;
  }
  RunOutcome outcome;
  std::int32_t status = -1;
  std::vector<std::uint32_t> *outer = t_run_faults;
  t_run_faults = &outcome.faults;
  outcome.call = call_under_traps([&] { status = instance->run(instance, request); });
  t_run_faults = outer;
  outcome.status = outcome.call.trapped ? -1 : status;
  if (residuals != nullptr) {
    const std::lock_guard<std::mutex> lock(mutex_);
    pool->residual_grant = std::numeric_limits<std::size_t>::max();
    pool->residuals = nullptr;
  }
  return outcome;
}

void ReferenceHost::free_block(TestInstance *instance, void *block) {
  instance->pool->free(instance->pool, block);
}

OwnedArray<double> ReferenceHost::take_block(TestInstance *instance, void *block,
                                             std::size_t count) {
  auto *pool = reinterpret_cast<Pool *>(instance->pool);
  const std::lock_guard<std::mutex> lock(mutex_);
  const auto live = pool->blocks.find(block);
  if (live == pool->blocks.end() || live->second.size < count * sizeof(double)) return {};
  pool->blocks.erase(live);
  return OwnedArray<double>::adopt(static_cast<double *>(block), count);
}

}  // namespace qvd::host
