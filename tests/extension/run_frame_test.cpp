// The frame of the run operation: which buffers it takes from the
// instance's pool, in which order, what it gives back, and how it refuses.
#include <cstring>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "host/dependence_run.h"
#include "support/recording_host.h"

namespace qvd::host {
namespace {

constexpr std::uint32_t kFlags = 0x80000000u;

struct Dims {
  int n, t, k, c, h;
};

std::vector<std::uint64_t> expected_sizes(const Dims &d) {
  const std::uint64_t kc = d.k + d.c, m = kc + d.h + 1;
  return {8 * kc + 8, 8 * (kc + d.h) + 8, kc + d.h + 1, 8 * (m * (m + 1) / 2),
          8 * (m * (m + 1) / 2), 8ull * d.n * d.t, 8 * kc,
          8ull * d.n * (d.n + 1) / 2};
}

class RunFrame : public ::testing::Test {
 protected:
  void SetUp() override {
    descriptor = host.create_descriptor();
    instance = host.create_instance(descriptor);
    ASSERT_NE(instance, nullptr);
  }
  void TearDown() override {
    host.destroy_instance(instance);
    host.release_descriptor(descriptor);
    EXPECT_EQ(host.live_pools(), 0);
    EXPECT_TRUE(host.live_blocks().empty());
  }

  // A request over a random panel; the module-written fields hold a
  // recognisable pattern so that any write shows.
  DependenceRequest request_for(const Dims &d) {
    std::mt19937_64 rng(d.n * 131 + d.t * 17 + d.k);
    std::normal_distribution<double> normal;
    panel.assign(static_cast<std::size_t>(d.n) * d.t * (d.k + 1), 0.0);
    for (double &v : panel) v = normal(rng);
    rhs.assign(d.h, 0.0);
    coef.assign(static_cast<std::size_t>(d.h) * (d.k + d.c), 0.0);
    for (int r = 0; r < d.h; ++r) coef[r * (d.k + d.c) + r % (d.k + d.c)] = 1.0;
    DependenceRequest r;
    std::memset(&r, 0x5A, sizeof r);
    r.panel = panel.data();
    r.n_sections = d.n;
    r.n_periods = d.t;
    r.n_regressors = d.k;
    r.n_intercept = d.c;
    r.n_restrictions = d.h;
    r.restriction_rhs = rhs.data();
    r.restriction_coef = coef.data();
    r.cdp_order = 1;
    r.near_perfect_fit = 0;
    return r;
  }

  // Blocks still held in the instance's pool.
  std::size_t live_in_instance_pool() const {
    std::size_t count = 0;
    for (const auto &b : host.live_blocks())
      if (b.address != descriptor) ++count;
    return count;
  }

  std::vector<HostEvent> allocs() const {
    std::vector<HostEvent> out;
    for (const auto &e : host.events())
      if (e.kind == EventKind::alloc) out.push_back(e);
    return out;
  }

  RecordingHost host{QVDEP_MODULE_PATH};
  ExtensionDescriptor *descriptor = nullptr;
  TestInstance *instance = nullptr;
  std::vector<double> panel, rhs, coef;
};

TEST_F(RunFrame, TakesEightBuffersInOrderAndGivesBackAllButCorrelations) {
  for (const Dims &d : {Dims{3, 5, 2, 1, 1}, Dims{4, 7, 3, 0, 0}, Dims{2, 1, 1, 1, 2}}) {
    DependenceRequest r = request_for(d);
    host.clear_events();
    ASSERT_EQ(host.run(instance, &r).status, 0);

    const auto taken = allocs();
    ASSERT_EQ(taken.size(), 8u);
    const auto sizes = expected_sizes(d);
    for (std::size_t i = 0; i < 8; ++i) {
      EXPECT_EQ(taken[i].size, sizes[i]) << "buffer " << i + 1;
      EXPECT_EQ(taken[i].flags, kFlags);
      EXPECT_EQ(taken[i].pool, taken[0].pool);
    }
    // Freed: sscp, saved copy, row, sweep work, flags, coefficients, residuals.
    std::vector<const void *> freed;
    for (const auto &e : host.events())
      if (e.kind == EventKind::free) freed.push_back(e.block);
    const std::vector<const void *> order = {taken[3].block, taken[4].block, taken[0].block,
                                             taken[1].block, taken[2].block, taken[6].block,
                                             taken[5].block};
    EXPECT_EQ(freed, order);
    EXPECT_EQ(r.correlations, taken[7].block);
    EXPECT_EQ(r.sscp, nullptr);
    EXPECT_EQ(r.sscp_saved, nullptr);
    EXPECT_EQ(r.row, nullptr);
    EXPECT_EQ(r.sweep_work, nullptr);
    EXPECT_EQ(r.pivot_flags, nullptr);
    EXPECT_EQ(r.intercept_copy, d.c);
    EXPECT_EQ(r.status, 0);
    // The instance block and the correlations stay in the pool.
    EXPECT_EQ(live_in_instance_pool(), 2u);
    host.free_block(instance, r.correlations);
  }
}

TEST_F(RunFrame, SecondRunTakesANewCorrelationBlock) {
  DependenceRequest r = request_for({3, 4, 1, 1, 0});
  ASSERT_EQ(host.run(instance, &r).status, 0);
  double *first = r.correlations;
  ASSERT_EQ(host.run(instance, &r).status, 0);
  EXPECT_NE(r.correlations, first);
  EXPECT_EQ(live_in_instance_pool(), 3u);  // both blocks stay with the host
}

// A refusal at buffer k returns 1 at once: the buffers before k stay taken
// and recorded, nothing is freed and no other field is written.
TEST_F(RunFrame, RefusalAtEachBuffer) {
  const Dims d{3, 5, 2, 1, 1};
  for (long k = 1; k <= 8; ++k) {
    SCOPED_TRACE(k);
    DependenceRequest r = request_for(d);
    DependenceRequest before = r;
    host.clear_events();
    host.refuse_alloc(k);
    ASSERT_EQ(host.run(instance, &r).status, 1);
    host.refuse_alloc(0);
    const auto taken = allocs();
    ASSERT_EQ(taken.size(), static_cast<std::size_t>(k));
    EXPECT_EQ(taken.back().block, nullptr);
    for (const auto &e : host.events()) EXPECT_NE(e.kind, EventKind::free);

    // Buffers kept in the request, by the order they are taken in.
    DependenceRequest expected = before;
    if (k > 1) expected.row = static_cast<double *>(const_cast<void *>(taken[0].block));
    if (k > 2) expected.sweep_work = static_cast<double *>(const_cast<void *>(taken[1].block));
    if (k > 3) expected.pivot_flags = static_cast<char *>(const_cast<void *>(taken[2].block));
    if (k > 4) expected.sscp = static_cast<double *>(const_cast<void *>(taken[3].block));
    if (k > 5) expected.sscp_saved = static_cast<double *>(const_cast<void *>(taken[4].block));
    EXPECT_EQ(std::memcmp(&r, &expected, sizeof r), 0);
  }
}

TEST_F(RunFrame, ZeroSizedBuffersRefusedByThePool) {
  host.faults().refuse_zero_size = true;
  struct Case {
    Dims d;
    std::size_t refused_at;  // 1-based
  };
  // N = 0: the residual block (6) has size 0. K + c = 0: the coefficients (7).
  for (const Case &c : {Case{{0, 4, 1, 1, 0}, 6}, Case{{3, 4, 0, 0, 0}, 7}}) {
    DependenceRequest r = request_for(c.d);
    host.clear_events();
    EXPECT_EQ(host.run(instance, &r).status, 1);
    const auto taken = allocs();
    ASSERT_EQ(taken.size(), c.refused_at);
    EXPECT_EQ(taken.back().size, 0u);
  }
  host.faults().refuse_zero_size = false;
  for (const Dims &d : {Dims{0, 4, 1, 1, 0}, Dims{3, 4, 0, 0, 0}}) {
    DependenceRequest r = request_for(d);
    EXPECT_EQ(host.run(instance, &r).status, 0);
    host.free_block(instance, r.correlations);
  }
}

// Requests whose counts the module cannot serve safely are refused with 2
// before anything is taken or written.
TEST_F(RunFrame, InvalidRequestsAreRefusedUntouched) {
  const double dummy = 0;
  struct Case {
    const char *what;
    Dims d;
    bool null_panel, null_rhs, null_coef;
  };
  const Case cases[] = {
      {"negative N", {-1, 3, 1, 1, 0}, false, false, false},
      {"negative T", {2, -3, 1, 1, 0}, false, false, false},
      {"negative K", {2, 3, -1, 1, 0}, false, false, false},
      {"negative c", {2, 3, 1, -1, 0}, false, false, false},
      {"c of 2", {2, 3, 1, 2, 0}, false, false, false},
      {"negative h", {2, 3, 1, 1, -1}, false, false, false},
      {"N*T = 2^31", {65536, 32768, 0, 1, 0}, false, false, false},
      {"N*T far past 2^31", {2000000000, 2000000000, 0, 1, 0}, false, false, false},
      {"m(m+1) just past 2^31", {0, 0, 46340, 0, 0}, false, false, false},
      {"m(m+1) with huge h", {0, 0, 1, 1, 2147483647}, false, false, false},
      {"N(N+1) just past 2^31", {46341, 0, 1, 1, 0}, false, false, false},
      {"null panel with data", {2, 3, 1, 1, 0}, true, false, false},
      {"null restriction rhs", {2, 3, 1, 1, 1}, false, true, false},
      {"null restriction coefficients", {2, 3, 1, 1, 1}, false, false, true},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    DependenceRequest r;
    std::memset(&r, 0x5A, sizeof r);
    r.panel = c.null_panel ? nullptr : &dummy;
    r.n_sections = c.d.n;
    r.n_periods = c.d.t;
    r.n_regressors = c.d.k;
    r.n_intercept = c.d.c;
    r.n_restrictions = c.d.h;
    r.restriction_rhs = c.null_rhs ? nullptr : &dummy;
    r.restriction_coef = c.null_coef ? nullptr : &dummy;
    const DependenceRequest before = r;
    host.clear_events();
    EXPECT_EQ(host.run(instance, &r).status, 2);
    EXPECT_TRUE(host.events().empty());
    EXPECT_EQ(std::memcmp(&r, &before, sizeof r), 0);
  }
}

// Counts whose products sit just below 2^31 are served: the pool is asked
// for the large block (and here refuses it) instead of the request being
// turned away.
TEST_F(RunFrame, ProductsJustBelowTheLimitAreServed) {
  const double dummy = 0;
  struct Case {
    const char *what;
    Dims d;
    long big_buffer;
    std::uint64_t big_size;
  };
  const Case cases[] = {
      {"N*T = 2^31 - 1", {1, 2147483647, 0, 0, 0}, 6, 8ull * 2147483647},
      {"m(m+1) = 46340*46341", {0, 0, 46339, 0, 0}, 4, 8ull * (46340ull * 46341 / 2)},
      {"N(N+1) = 46340*46341", {46340, 0, 1, 1, 0}, 8, 8ull * (46340ull * 46341 / 2)},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    DependenceRequest r{};
    r.panel = &dummy;
    r.n_sections = c.d.n;
    r.n_periods = c.d.t;
    r.n_regressors = c.d.k;
    r.n_intercept = c.d.c;
    host.clear_events();
    host.refuse_alloc(c.big_buffer);
    EXPECT_EQ(host.run(instance, &r).status, 1);
    host.refuse_alloc(0);
    const auto taken = allocs();
    ASSERT_EQ(taken.size(), static_cast<std::size_t>(c.big_buffer));
    EXPECT_EQ(taken.back().size, c.big_size);
  }
}

// Residuals on request are the QVDEP_BUFFER_RESIDUALS-th buffer as the run
// frees it: N*T values period-major, missing exactly where a cross-section's
// period is incomplete, and orthogonal to the regressors and the intercept
// of their cross-section (the normal equations of least squares). The count
// starts afresh with every run on the instance; a run that ends before it
// frees the buffer leaves them empty.
TEST_F(RunFrame, ResidualsOnRequest) {
  const Dims d{4, 9, 2, 1, 0};
  const std::size_t n = d.n, t = d.t, width = d.k + 1;
  for (int repeat = 0; repeat < 2; ++repeat) {
    SCOPED_TRACE(repeat);
    DependenceRequest r = request_for(d);
    std::memset(&panel[(1 * t + 3) * width + 0], 0xFF, 8);          // section 1, period 3
    std::memset(&panel[(2 * t + 8) * width + d.k], 0xFF, 8);        // section 2, period 8
    qvd::host::OwnedArray<double> residuals(2);
    ASSERT_EQ(host.run(instance, &r, &residuals).status, 0);
    host.free_block(instance, r.correlations);
    ASSERT_EQ(residuals.size(), n * t);
    for (std::size_t i = 0; i < n; ++i) {
      std::vector<double> normal_equations(d.k + 1, 0.0);  // X'e, intercept last
      for (std::size_t p = 0; p < t; ++p) {
        const double *o = &panel[(i * t + p) * width];
        bool incomplete = false;
        for (std::size_t v = 0; v < width; ++v) incomplete |= qvdep_is_missing(o[v]) != 0;
        const double e = residuals[p * n + i];
        ASSERT_EQ(qvdep_is_missing(e) != 0, incomplete) << "section " << i << ", period " << p;
        if (incomplete) continue;
        for (int v = 0; v < d.k; ++v) normal_equations[v] += o[v] * e;
        normal_equations[d.k] += e;
      }
      for (double sum : normal_equations) EXPECT_NEAR(sum, 0.0, 1e-10) << "section " << i;
    }
  }
  for (long k = 1; k <= 8; ++k) {
    SCOPED_TRACE(k);
    DependenceRequest r = request_for(d);
    qvd::host::OwnedArray<double> residuals(1);
    host.refuse_alloc(k);
    EXPECT_EQ(host.run(instance, &r, &residuals).status, 1);
    host.refuse_alloc(0);
    EXPECT_TRUE(residuals.empty());
  }
}

TEST_F(RunFrame, NullPanelIsFineWhenNothingIsRead) {
  DependenceRequest r{};
  r.n_sections = 3;
  r.n_periods = 0;
  r.n_regressors = 2;
  r.n_intercept = 1;
  EXPECT_EQ(host.run(instance, &r).status, 0);
  host.free_block(instance, r.correlations);
}

}  // namespace
}  // namespace qvd::host
