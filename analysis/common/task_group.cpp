#include "analysis/common/task_group.h"

#include <algorithm>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#if defined(__unix__)
#include <pthread.h>
#endif

namespace qvd::analysis {

struct TaskGroup::State {
  // The group whose task made this one (null for a group made outside any
  // task): waiting for that group runs this one's tasks too. It outlives
  // this one, whose tasks are part of the task that made it.
  const State *parent = nullptr;
  std::size_t unfinished = 0;  // queued or running; under the pool's lock
  std::exception_ptr error;    // the first a task threw
  std::condition_variable finished;
};

namespace {

// The group of the task this thread is running, if any.
thread_local const TaskGroup::State *t_running = nullptr;

// Whether `group` is `waited` or was made, however deep, by its tasks.
bool within(const TaskGroup::State *group, const TaskGroup::State *waited) {
  for (; group != nullptr; group = group->parent)
    if (group == waited) return true;
  return false;
}

struct Entry {
  TaskGroup::State *group;  // which waits for the task before it goes
  std::function<void()> task;
};

class Pool {
 public:
  std::mutex mutex;

  void queue(Entry entry) {
    const std::lock_guard<std::mutex> lock(mutex);
    start_threads();
    ++entry.group->unfinished;
    queue_.push_back(std::move(entry));
    work_.notify_one();
  }

  // Runs queued tasks of `group`, and of the groups its tasks made, on
  // this thread until none of `group`'s is left queued or running. (A task
  // that waits for a group of its own thus never waits for a pool thread
  // that its own group's waiter could have stood in for.)
  void wait_for(TaskGroup::State *group) {
    std::unique_lock<std::mutex> lock(mutex);
    while (group->unfinished > 0) {
      const auto mine = std::find_if(queue_.begin(), queue_.end(),
                                     [&](const Entry &e) { return within(e.group, group); });
      if (mine == queue_.end()) {
        group->finished.wait(lock);
        continue;
      }
      Entry entry = std::move(*mine);
      queue_.erase(mine);
      execute(entry, lock);
    }
  }

  std::size_t threads() {
    const std::lock_guard<std::mutex> lock(mutex);
    start_threads();
    return started_;
  }

 private:
  // Runs `entry` with the lock released, then counts it finished.
  static void execute(Entry &entry, std::unique_lock<std::mutex> &lock) {
    lock.unlock();
    std::exception_ptr error;
    const TaskGroup::State *outer = std::exchange(t_running, entry.group);
    try {
      entry.task();
    } catch (...) {
      error = std::current_exception();
    }
    t_running = outer;
    entry.task = nullptr;  // what the task holds goes before the group hears of it
    lock.lock();
    TaskGroup::State &group = *entry.group;
    if (error && !group.error) group.error = error;
    if (--group.unfinished == 0) group.finished.notify_all();
  }

  void serve() {
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
      work_.wait(lock, [this] { return !queue_.empty(); });
      Entry entry = std::move(queue_.front());
      queue_.pop_front();
      execute(entry, lock);
    }
  }

  // Under the lock. A thread that cannot be started leaves the pool
  // smaller; the waiting threads then run the tasks.
  void start_threads() {
    if (tried_) return;
    tried_ = true;
    const std::size_t wanted = std::max(2u, std::thread::hardware_concurrency()) - 1;
    for (; started_ < wanted; ++started_) {
      try {
        std::thread(&Pool::serve, this).detach();
      } catch (const std::system_error &) {
        break;
      }
    }
  }

  std::condition_variable work_;
  std::deque<Entry> queue_;
  bool tried_ = false;
  std::size_t started_ = 0;
};

// Never destroyed: a pool thread may still be waiting for work when the
// process exits. A child process made by fork has none of the parent's
// threads, so it gets a pool of its own (the parent's is left as it was).
Pool *g_pool = nullptr;

Pool &pool() {
  static const bool ready = [] {
    g_pool = new Pool;
#if defined(__unix__)
    pthread_atfork(nullptr, nullptr, [] { g_pool = new Pool; });
#endif
    return true;
  }();
  (void)ready;
  return *g_pool;
}

}  // namespace

TaskGroup::TaskGroup() : state_(std::make_unique<State>()) { state_->parent = t_running; }

TaskGroup::~TaskGroup() {
  try {
    pool().wait_for(state_.get());
  } catch (...) {
  }
}

void TaskGroup::run(std::function<void()> task) { pool().queue({state_.get(), std::move(task)}); }

void TaskGroup::wait() {
  pool().wait_for(state_.get());
  std::exception_ptr error;
  {
    const std::lock_guard<std::mutex> lock(pool().mutex);
    error = std::exchange(state_->error, nullptr);
  }
  if (error) std::rethrow_exception(error);
}

void parallel_for(std::size_t count, const std::function<void(std::size_t)> &f) {
  TaskGroup group;
  for (std::size_t i = 0; i < count; ++i) group.run([&f, i] { f(i); });
  group.wait();
}

std::size_t pool_threads() { return pool().threads(); }

}  // namespace qvd::analysis
