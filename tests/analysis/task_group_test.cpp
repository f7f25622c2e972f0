// The pool beside the callers: every task runs once, a task's exception
// reaches the waiting caller, and groups that wait inside tasks (as the
// unbalanced block's chunks do inside its task) finish however many run at
// once on how few threads.
#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "analysis/common/task_group.h"

namespace qvd::analysis {
namespace {

TEST(TaskGroup, NestedGroupsOnManyThreadsRunEveryTaskOnce) {
  constexpr int kCallers = 6, kOuter = 8, kInner = 50;
  std::vector<std::atomic<int>> runs(kCallers * kOuter * kInner);
  std::vector<std::thread> callers;
  for (int c = 0; c < kCallers; ++c)
    callers.emplace_back([&, c] {
      TaskGroup outer;
      for (int o = 0; o < kOuter; ++o)
        outer.run([&, c, o] {
          parallel_for(kInner, [&](std::size_t i) { ++runs[(c * kOuter + o) * kInner + i]; });
        });
      outer.wait();
    });
  for (std::thread &t : callers) t.join();
  for (const auto &r : runs) ASSERT_EQ(r.load(), 1);
  EXPECT_GE(pool_threads(), 1u);
}

TEST(TaskGroup, TheFirstExceptionReachesTheWaiterAfterEveryTask) {
  std::atomic<int> finished{0};
  TaskGroup group;
  for (int k = 0; k < 20; ++k)
    group.run([&, k] {
      ++finished;
      if (k % 7 == 3) throw std::runtime_error("task " + std::to_string(k));
    });
  EXPECT_THROW(group.wait(), std::runtime_error);
  EXPECT_EQ(finished, 20);
  group.wait();  // the exception was taken: the group is empty and clean
}

}  // namespace
}  // namespace qvd::analysis
