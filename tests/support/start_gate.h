// A gate that lets a fixed number of threads start together: each calls
// `arrive_and_wait`, and all go on once the last has arrived.
//
// A mutex and condition variable with the count checked under the mutex, so
// no wake-up can be lost. (std::barrier of the MinGW-w64 GCC 12 runtime,
// which waits through libstdc++'s pooled condition variables rather than a
// futex, now and then leaves a waiter asleep for ever after the last thread
// has arrived.)
#pragma once

#include <condition_variable>
#include <mutex>

namespace qvd::test {

class StartGate {
 public:
  explicit StartGate(int threads) : waiting_(threads) {}

  void arrive_and_wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (--waiting_ == 0) {
      open_.notify_all();
      return;
    }
    open_.wait(lock, [this] { return waiting_ == 0; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable open_;
  int waiting_;
};

}  // namespace qvd::test
