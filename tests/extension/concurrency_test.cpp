// Several instances of one loaded module, used from several threads at once,
// give the results of the same requests run one after the other, bit for
// bit, with the same faults and traps. The threads begin together: they
// register the host's services at the same moment and make the process's
// first sweep at the same moment, which detects the processor feature
// level. The test is also built with ThreadSanitizer (build-tsan), which
// reports any module-wide state that is not safe for this.
#include <bit>
#include <cstdint>
#include <cstdio>
#include <random>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "host/dependence_run.h"
#include "support/start_gate.h"

namespace qvd {
namespace {

constexpr int kThreads = 4;
constexpr int kRounds = 5;

struct Job {
  host::Panel panel;
  host::TestOptions options;
};

// y = x b + g_i f_t + e for K regressors, with missing values scattered in;
// `poison` puts one signalling NaN (not a missing marker) into a regressor.
Job random_job(std::mt19937_64 &rng, int n, int t, int k, bool intercept,
               bool restricted, bool poison) {
  std::normal_distribution<double> normal;
  std::uniform_real_distribution<double> uniform;
  Job job;
  job.panel = {n, t, k, {}};
  std::vector<double> factor(t);
  for (double &f : factor) f = normal(rng);
  for (int i = 0; i < n; ++i) {
    const double loading = uniform(rng);
    for (int p = 0; p < t; ++p) {
      double y = loading * factor[p] + normal(rng);
      for (int v = 0; v < k; ++v) {
        const double x = normal(rng);
        job.panel.values.push_back(x);
        y += (v + 1) * x;
      }
      job.panel.values.push_back(y);
      if (uniform(rng) < 0.03) {
        job.panel.values.back() =
            std::bit_cast<double>(0xFFFF000000000000ull | (rng() >> 16));
      }
    }
  }
  if (poison) {
    job.panel.values[(t + 1) * (k + 1)] =
        std::bit_cast<double>(std::uint64_t{0x7FF0000000000001});
  }
  job.options.intercept = intercept;
  job.options.cdp_order = 1 + static_cast<int>(rng() % 4);
  if (restricted) {  // the regressors' coefficients sum to k(k+1)/2
    job.options.restriction_coef.assign(k + (intercept ? 1 : 0), 1.0);
    if (intercept) job.options.restriction_coef[0] = 0.0;
    job.options.restriction_rhs = {k * (k + 1) / 2.0};
  }
  return job;
}

std::vector<Job> make_jobs() {
  std::mt19937_64 rng(20261208);
  std::vector<Job> jobs;
  for (int j = 0; j < 10; ++j) {
    jobs.push_back(random_job(rng, 3 + j * 3, 12 + j, 1 + j % 3, j % 4 != 3,
                              j % 3 == 1, false));
  }
  jobs.push_back(random_job(rng, 6, 15, 2, true, false, true));
  return jobs;
}

// Everything a run yields, as bits.
struct Outcome {
  std::int32_t status = 0;
  int signal_code = 0;
  std::vector<std::uint32_t> faults;
  std::vector<std::uint64_t> bits;

  bool operator==(const Outcome &) const = default;
};

Outcome run_job(host::ReferenceHost &h, TestInstance *instance, const Job &job) {
  DependenceRequest request = host::make_request(job.panel, job.options);
  const host::RunOutcome run = h.run(instance, &request);
  Outcome outcome{run.status, run.call.signal_code, run.faults, {}};
  if (run.status != QVDEP_RUN_OK) return outcome;
  for (const double v :
       {request.lm, request.lm_pvalue, request.scaled_lm,
        request.scaled_lm_pvalue, request.cd, request.cd_pvalue, request.cdp,
        request.cdp_pvalue}) {
    outcome.bits.push_back(std::bit_cast<std::uint64_t>(v));
  }
  outcome.bits.push_back(static_cast<std::uint64_t>(request.near_perfect_fit));
  const int n = job.panel.sections;
  for (int c = 0; c < n * (n + 1) / 2; ++c) {
    outcome.bits.push_back(std::bit_cast<std::uint64_t>(request.correlations[c]));
  }
  h.free_block(instance, request.correlations);
  return outcome;
}

TEST(Concurrency, InstancesOnSeveralThreadsMatchOneAfterTheOther) {
  host::ReferenceHost h(QVDEP_MODULE_PATH);
  const std::vector<Job> jobs = make_jobs();
  ExtensionDescriptor *descriptor = h.create_descriptor();
  ASSERT_NE(descriptor, nullptr);

  // All threads first, so that their first calls meet.
  std::vector<std::vector<Outcome>> seen(kThreads);
  test::StartGate start(kThreads);
  std::vector<std::thread> threads;
  for (int id = 0; id < kThreads; ++id) {
    threads.emplace_back([&, id] {
      start.arrive_and_wait();
      std::uint64_t major = 0, minor = 0;
      h.module().qvextver(h.services(), &major, &minor);
      TestInstance *instance = h.create_instance(descriptor);
      if (instance == nullptr) return;
      // Each thread takes the jobs in its own rotation, several rounds over
      // one instance.
      for (int round = 0; round < kRounds; ++round) {
        for (std::size_t j = 0; j < jobs.size(); ++j) {
          seen[id].push_back(
              run_job(h, instance, jobs[(j + id * 3) % jobs.size()]));
        }
      }
      h.destroy_instance(instance);
    });
  }
  for (std::thread &thread : threads) thread.join();

  // The same requests one after the other, on one instance.
  TestInstance *instance = h.create_instance(descriptor);
  ASSERT_NE(instance, nullptr);
  std::vector<Outcome> expected;
  // A hardware trap ends the call on Linux; on Windows the host also records
  // it as a structured exception of that call. Either way one request, the
  // signalling NaN, and only it, ends in a fault.
  int faulted = 0;
  for (const Job &job : jobs) {
    expected.push_back(run_job(h, instance, job));
    faulted += expected.back().status == -1 || !expected.back().faults.empty();
  }
  h.destroy_instance(instance);
  std::printf("%d threads x %d rounds x %zu requests; %d ended in a fault\n",
              kThreads, kRounds, jobs.size(), faulted);
  EXPECT_EQ(faulted, 1);

  for (int id = 0; id < kThreads; ++id) {
    ASSERT_EQ(seen[id].size(), kRounds * jobs.size()) << "thread " << id;
    for (std::size_t r = 0; r < seen[id].size(); ++r) {
      const std::size_t j = (r % jobs.size() + id * 3) % jobs.size();
      EXPECT_TRUE(seen[id][r] == expected[j])
          << "thread " << id << ", run " << r << ", request " << j;
    }
  }
  h.release_descriptor(descriptor);
  EXPECT_EQ(h.live_pools(), 0);
  EXPECT_EQ(h.live_block_count(), 0u);
  EXPECT_EQ(h.open_journals(), 0);
}

}  // namespace
}  // namespace qvd
