// What a host may be told of, and refuse, as the module calls its services.
//
// The reference host serves the module on its own; a ServiceHooks object
// set on it sees each service call and may turn some down, the way a host
// short of memory or journals would. Tests record the module's calls with
// it and make the host fail at chosen points (tests/support/recording_host.h).
//
// Every hook does nothing and grants what is asked unless overridden.
// Each hook runs on the thread of the module's call, outside the host's
// lock, so calls from several threads may meet in one hooks object, and a
// hook may read the host's counts. Pools and journals are named by the table
// the module holds; an address is only unique while its object lives.
#ifndef QVDEP_HOST_SERVICE_HOOKS_H
#define QVDEP_HOST_SERVICE_HOOKS_H

#include <cstdint>

#include "qvdep.h"

namespace qvd::host {

class ServiceHooks {
 public:
  virtual ~ServiceHooks() = default;

  // create_pool: `pool` is ready to be handed out; false refuses it (the
  // module gets null, and `pool` is never used).
  virtual bool create_pool(const HostPool *pool, const PoolParams &params, void *context,
                           const char *name);
  // alloc, before the host looks for memory: false refuses the block (the
  // module gets null).
  virtual bool alloc(const HostPool *pool, std::uint64_t size, std::uint32_t flags);
  // The block alloc grants, before the module sees it; its `size` bytes
  // are the hook's to write (the host leaves them as malloc gives them).
  virtual void block_granted(const HostPool *pool, void *block, std::uint64_t size,
                             std::uint32_t flags);
  // free, before the host gives the block back (when the pool holds it:
  // any other pointer is ignored by the host).
  virtual void free(const HostPool *pool, const void *block);
  // destroy, before the host releases the pool and every block it holds.
  virtual void destroy_pool(const HostPool *pool);
  // create_journal: false refuses `journal` (the module gets null).
  virtual bool create_journal(const HostJournal *journal, const JournalParams &params,
                              void *context, const char *name);
  virtual void close_journal(const HostJournal *journal);
  // lookup_locale of `length` UTF-16 characters: false gives the module a
  // null locale instead of the host's.
  virtual bool lookup_locale(const std::uint16_t *name, std::int64_t length);
};

}  // namespace qvd::host

#endif
