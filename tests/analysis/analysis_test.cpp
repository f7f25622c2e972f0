// The analysis library called in memory, as a binding calls it: columns of
// rows with NaN for missing values, periods sorted as numbers or as text;
// and from several threads at once.
#include <algorithm>
#include <atomic>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <iterator>
#include <limits>
#include <random>
#include <thread>

#include <gtest/gtest.h>

#include "analysis/common/errors.h"
#include "analysis/common/task_group.h"
#include "analysis/driver/analysis.h"
#include "analysis/driver/shared_host.h"
#include "pipeline_reference.h"
#include "support/start_gate.h"

namespace qvd::e2e {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// The code of `label` among `labels`, which gain it when it is new (so they
// stay in order of first appearance, as the reader interns them).
std::uint32_t intern(std::vector<std::string> &labels, const std::string &label) {
  const auto it = std::find(labels.begin(), labels.end(), label);
  if (it != labels.end()) return static_cast<std::uint32_t>(it - labels.begin());
  labels.push_back(label);
  return static_cast<std::uint32_t>(labels.size() - 1);
}

// Long columns of a module-layout panel, rows in reverse order, periods
// labelled by `period_label`.
analysis::LongPanel long_columns(const host::Panel &p, std::string (*period_label)(int)) {
  analysis::LongPanel data;
  data.regressors.resize(static_cast<std::size_t>(p.regressors));
  for (int v = 0; v < p.regressors; ++v) data.regressor_names.push_back("x" + std::to_string(v));
  for (int i = 0; i < p.sections; ++i)
    for (int t = p.periods - 1; t >= 0; --t) {
      const double *o = p.values.data() + (static_cast<std::size_t>(i) * p.periods + t) * (p.regressors + 1);
      auto value = [](double v) { return marked_missing(v) ? kNaN : v; };
      data.id_of_row.push_back(intern(data.id_labels, std::to_string(100 - i)));
      data.time_of_row.push_back(intern(data.time_labels, period_label(t)));
      data.dependent.push_back(value(o[p.regressors]));
      for (int v = 0; v < p.regressors; ++v) data.regressors[static_cast<std::size_t>(v)].push_back(value(o[v]));
    }
  return data;
}

std::string numeric(int t) { return std::to_string(t + 8); }     // 8, 9, 10, ...: as numbers
std::string text(int t) { return "q" + std::string(1, static_cast<char>('a' + t)); }

TEST(AnalysisInMemory, NanIsMissingAndPeriodsSortAsNumbersOrText) {
  std::mt19937_64 rng(3);
  const host::Panel panel = random_panel(rng, {8, 12, 2, true, 0.5, 0.1, true, 0});
  host::TestOptions direct_options;
  direct_options.cdp_order = 2;
  const host::TestResults direct = host::run_dependence_test(module_host(), panel, direct_options);
  ASSERT_TRUE(direct.ok());
  analysis::Options options;
  options.order = 2;
  options.module_path = QVDEP_MODULE_PATH;
  for (auto label : {&numeric, &text}) {
    const analysis::Result r = analysis::run_analysis(long_columns(panel, label), options);
    EXPECT_EQ(r.period_labels.front(), label(0));
    EXPECT_EQ(r.period_labels.back(), label(11));
    EXPECT_EQ(r.section_labels.front(), "100");
    EXPECT_EQ(r.module.lm, direct.lm);
    EXPECT_EQ(r.module.cd, direct.cd);
    EXPECT_EQ(r.module.cdp, direct.cdp);
    EXPECT_EQ(r.module.scaled_lm_pvalue, direct.scaled_lm_pvalue);
  }
  analysis::LongPanel infinite = long_columns(panel, &numeric);
  infinite.dependent[5] = std::numeric_limits<double>::infinity();
  EXPECT_THROW(analysis::run_analysis(infinite, options), analysis::InputError);
}

// Every figure of a result, as bits, or the fault that ended the run.
template <typename Data>
std::vector<std::uint64_t> figures(const Data &data, const analysis::Options &options) {
  try {
    const analysis::Result r = analysis::run_analysis(data, options);
    const analysis::ModuleResults &m = r.module;
    std::vector<std::uint64_t> bits;
    for (const double v : {m.lm, m.lm_pvalue, m.scaled_lm, m.scaled_lm_pvalue, m.cd, m.cd_pvalue,
                           m.cdp, m.cdp_pvalue, r.mean_correlation, r.mean_abs_correlation,
                           r.weighted_cd, r.weighted_cd_pvalue})
      bits.push_back(std::bit_cast<std::uint64_t>(v));
    for (const double v : r.correlations) bits.push_back(std::bit_cast<std::uint64_t>(v));
    for (const int c : r.common_periods) bits.push_back(static_cast<std::uint64_t>(c));
    bits.push_back(static_cast<std::uint64_t>(r.shape.usable_pairs));
    return bits;
  } catch (const analysis::FloatingPointFault &) {
    return {0xFA017};
  } catch (const std::exception &) {  // any other failure differs from both
    return {0xE};
  }
}

// A module-layout panel as a binding's array (NaN missing): the periods
// reversed along the array's second axis, with their labels, so that the
// layout puts them back in order.
struct ReversedArray {
  std::vector<double> values;
  analysis::ArrayPanel panel;
};

ReversedArray reversed_array(const host::Panel &p, std::string (*period_label)(int)) {
  ReversedArray a;
  const std::size_t width = static_cast<std::size_t>(p.regressors) + 1;
  for (int i = 0; i < p.sections; ++i) {
    a.panel.section_labels.push_back(std::to_string(100 - i));
    for (int t = p.periods - 1; t >= 0; --t) {
      const double *o = p.values.data() + (static_cast<std::size_t>(i) * p.periods + t) * width;
      for (std::size_t v = 0; v < width; ++v) a.values.push_back(marked_missing(o[v]) ? kNaN : o[v]);
    }
  }
  for (int t = p.periods - 1; t >= 0; --t) a.panel.period_labels.push_back(period_label(t));
  for (int v = 0; v < p.regressors; ++v) a.panel.regressor_names.push_back("x" + std::to_string(v));
  a.panel.values = a.values.data();
  return a;
}

TEST(AnalysisInMemory, AnArrayGivesTheFiguresOfItsRowsToTheBit) {
  std::mt19937_64 rng(5);
  analysis::Options options;
  options.order = 2;
  options.module_path = QVDEP_MODULE_PATH;
  for (int j = 0; j < 4; ++j) {
    const host::Panel panel =
        random_panel(rng, {6 + j, 9 + j, j % 3, j % 2 == 0, 0.5, 0.1, true, 0});
    for (auto label : {&numeric, &text}) {
      const ReversedArray array = reversed_array(panel, label);
      const std::vector<std::uint64_t> expected = figures(long_columns(panel, label), options);
      ASSERT_GT(expected.size(), 1u);
      EXPECT_EQ(figures(array.panel, options), expected) << "panel " << j;
      const analysis::Result r = analysis::run_analysis(array.panel, options);
      EXPECT_EQ(r.period_labels.front(), label(0));
      EXPECT_EQ(r.shape.rows, static_cast<long>(panel.sections) * panel.periods);
    }
  }
}

// Analyses on several threads at once, each thread forty rounds over small
// panels in its own rotation (short runs, so that they overlap often), give
// the serial results bit for bit: the residuals each run reads back are its
// own although other runs take pool blocks in between. One panel overflows;
// its fault reaches the thread that ran it, every time, and no other. The
// shared host holds nothing of the runs once they are over: no pool, no
// block (the residual copies included: they belong to the runs), no journal.
std::size_t thread_count() {
  return static_cast<std::size_t>(std::distance(
      std::filesystem::directory_iterator("/proc/self/task"), std::filesystem::directory_iterator{}));
}

TEST(AnalysisInMemory, ThreadsAtOnceGiveTheSerialResults) {
  constexpr int kThreads = 4, kRounds = 40;
  std::mt19937_64 rng(12);
  std::vector<analysis::LongPanel> panels;
  for (int j = 0; j < 5; ++j)
    panels.push_back(long_columns(
        random_panel(rng, {5 + 4 * j, 10 + 2 * j, 1 + j % 2, true, 0.5, 0.05, j % 2 == 1, 0}),
        &numeric));
  analysis::LongPanel huge = panels[0];
  for (double &v : huge.dependent) v *= 1e200;
  for (double &v : huge.regressors[0]) v *= 1e200;
  panels.push_back(huge);
  analysis::Options options;
  options.order = 2;
  options.module_path = QVDEP_MODULE_PATH;

  std::vector<std::vector<std::uint64_t>> serial;
  for (const auto &panel : panels) serial.push_back(figures(panel, options));
  ASSERT_EQ(serial.back(), std::vector<std::uint64_t>{0xFA017});
  for (std::size_t j = 0; j + 1 < serial.size(); ++j) ASSERT_GT(serial[j].size(), 1u);

  analysis::pool_threads();  // started, if the runs above had not
  const std::size_t threads_before = thread_count();
  std::vector<std::vector<std::vector<std::uint64_t>>> seen(kThreads);
  test::StartGate start(kThreads);
  std::atomic<int> finished{0};
  std::vector<std::thread> threads;
  for (int id = 0; id < kThreads; ++id)
    threads.emplace_back([&, id] {
      start.arrive_and_wait();
      for (int run = 0; run < kRounds * static_cast<int>(panels.size()); ++run)
        seen[id].push_back(figures(panels[(run + id) % panels.size()], options));
      ++finished;
    });
  // However many analyses run at once, the work beside them shares one
  // pool: the process has the threads it had before (this one, the pool's
  // and a sanitizer's own) and the callers'.
  std::size_t most_threads = 0;
  while (finished < kThreads) {
    most_threads = std::max(most_threads, thread_count());
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  for (std::thread &thread : threads) thread.join();
  EXPECT_LE(most_threads, threads_before + kThreads);
  for (int id = 0; id < kThreads; ++id)
    for (std::size_t run = 0; run < seen[id].size(); ++run)
      EXPECT_TRUE(seen[id][run] == serial[(run + id) % panels.size()])
          << "thread " << id << ", run " << run;
  const host::ReferenceHost &shared = analysis::shared_host(QVDEP_MODULE_PATH);
  EXPECT_EQ(shared.live_pools(), 0);
  EXPECT_EQ(shared.live_block_count(), 0u);
  EXPECT_EQ(shared.open_journals(), 0);
}

}  // namespace
}  // namespace qvd::e2e
