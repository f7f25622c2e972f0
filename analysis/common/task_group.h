// Work beside the caller's thread, on one pool of threads that every
// analysis in the process shares.
//
// The pool has one thread fewer than the processor has hardware threads
// (at least one), started when first needed and kept for the life of the
// process, so that analyses started from many threads at once (a Python
// program's, say) never have more threads working than the processor runs,
// plus their own callers. A task group hands tasks to the pool and waits
// for them; while it waits, the waiting thread runs the group's tasks that
// no pool thread has taken, so a group finishes even when the pool is busy
// with other groups' work, or has no thread at all (where none can be
// started).
//
//   TaskGroup group;
//   group.run([&] { a = form_a(); });   // on a pool thread, or on this one in wait()
//   b = form_b();                       // meanwhile, on this thread
//   group.wait();                       // a is formed; rethrows what a task threw
//
// What a task reads must outlive the group's wait(): the group is declared
// after it, and its destructor waits too (discarding any exception, which
// only a wait() that was skipped by an earlier exception would have
// rethrown).
#ifndef QVDEP_ANALYSIS_COMMON_TASK_GROUP_H
#define QVDEP_ANALYSIS_COMMON_TASK_GROUP_H

#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <memory>

namespace qvd::analysis {

class TaskGroup {  // neither copied nor moved: its tasks know it
 public:
  TaskGroup();
  ~TaskGroup();

  // Queues `task`. Throws std::bad_alloc only.
  void run(std::function<void()> task);
  // Returns once every task run() queued has finished, running queued ones
  // on this thread meanwhile; rethrows the first exception a task threw.
  void wait();

  struct State;

 private:
  const std::unique_ptr<State> state_;
};

// f(i) for i in [0, count), spread over the pool and this thread; returns
// when every call has returned, rethrowing the first exception. Each i is
// one task: give it a worthwhile piece of work.
void parallel_for(std::size_t count, const std::function<void(std::size_t)> &f);

// The number of threads the pool runs (for tests and the README's figures).
std::size_t pool_threads();

}  // namespace qvd::analysis

#endif
