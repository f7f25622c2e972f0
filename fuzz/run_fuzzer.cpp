// libFuzzer target: one request through the recording host per input, under
// the host's trap setting.
//
// The input is decoded into dimensions (small, or edge values up to the
// 32-bit limits), panel values drawn mostly from ordinary numbers and often
// from a dictionary of hard bit patterns, restrictions (all-zero and
// contradictory rows included), a cdp_order of any 32-bit value and the
// host's failures (a refused k-th block, refused empty blocks, a null
// locale). After every run:
//   - the status is 0, 1 or 2, or the host reports a trap; 2 exactly for the
//     dimensions the module documents as invalid;
//   - nothing of the request changes outside the fields the module owns,
//     and nothing at all on a refusal of the request, no result on a
//     refused block; the panel and restrictions are untouched;
//   - after a 0 the work fields are null, every p-value lies in [0, 1] or is
//     kMissingResult, and the instance's pool holds the instance and the
//     correlations only;
//   - after a trap, a raised fault or a refusal, a known request on the
//     same instance gives its known results bit for bit;
//   - after destroy no block of the instance's pool is left and every
//     journal is closed.
// A broken invariant aborts with a message, which libFuzzer records.
#include <fuzzer/FuzzedDataProvider.h>

#include <bit>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "host/dependence_run.h"
#include "support/recording_host.h"

namespace {

using qvd::host::RecordingHost;

// Largest panel (plus restrictions) and work the fuzzer lets a run compute;
// larger valid requests are given a refused block instead.
constexpr std::int64_t kValueBudget = 1 << 14;
constexpr std::int64_t kMaxSections = 48, kMaxPeriods = 48, kMaxOrder = 24;
// The host's pools refuse blocks beyond this size.
constexpr std::uint64_t kMaxBlock = 1 << 22;

constexpr std::uint64_t kDictionary[] = {
    0xFFFF000000000000ull, 0xFFFF000000000001ull, 0xFFFF8000DEADBEEFull,
    0xFFFFFFFFFFFFFFFFull, QVDEP_MISSING_RESULT_BITS,
    0x0000000000000000ull, 0x8000000000000000ull,  // +-0
    0x0000000000000001ull, 0x800FFFFFFFFFFFFFull,  // subnormals
    0x0010000000000000ull,                          // smallest normal
    0x7FEFFFFFFFFFFFFFull, 0xFFEFFFFFFFFFFFFFull,  // +-largest
    0x5FE0000000000000ull, 0xDFE0000000000000ull,  // +-2^511
    0x7FF8000000000000ull, 0xFFF8000000000001ull,  // quiet NaNs
    0x7FF0000000000001ull, 0xFFF4000000000000ull,  // signalling NaNs
    0x7FF0000000000000ull, 0xFFF0000000000000ull,  // +-infinity
    0x3FF0000000000000ull, 0xBFF0000000000000ull,  // +-1
};

constexpr std::int32_t kEdgeDimensions[] = {
    0, 1, 2, 3, -1, INT_MIN, INT_MAX, INT_MAX - 1, 46340, 46341,
    65535, 65536, 1 << 30, 1 << 16 | 1, 4095, 31,
};

void fail(const char *what) {
  std::fprintf(stderr, "broken invariant: %s\n", what);
  std::abort();
}

void check(bool ok, const char *what) {
  if (!ok) fail(what);
}

std::uint64_t bits(double v) { return std::bit_cast<std::uint64_t>(v); }

double value(FuzzedDataProvider &in) {
  switch (in.ConsumeIntegralInRange<int>(0, 7)) {
    case 0:
      return std::bit_cast<double>(
          kDictionary[in.ConsumeIntegralInRange<std::size_t>(
              0, std::size(kDictionary) - 1)]);
    case 1: return std::bit_cast<double>(in.ConsumeIntegral<std::uint64_t>());
    case 2: return in.ConsumeIntegralInRange<int>(-4, 4);
    default:
      return in.ConsumeIntegralInRange<int>(-30000, 30000) / 1024.0;
  }
}

std::int32_t dimension(FuzzedDataProvider &in, bool edge, int small_limit) {
  if (!edge) return in.ConsumeIntegralInRange<std::int32_t>(0, small_limit);
  return kEdgeDimensions[in.ConsumeIntegralInRange<std::size_t>(
      0, std::size(kEdgeDimensions) - 1)];
}

// The documented rule for a request the module refuses outright, in 64-bit
// arithmetic of its own.
bool documented_valid(const DependenceRequest &r) {
  const std::int64_t n = r.n_sections, t = r.n_periods, k = r.n_regressors,
                     c = r.n_intercept, h = r.n_restrictions;
  if (n < 0 || t < 0 || k < 0 || h < 0 || (c != 0 && c != 1)) return false;
  const __int128 m = k + c + h + 1;  // up to 2^32: its square needs 128 bits
  if (m * (m + 1) > INT_MAX || n * t > INT_MAX || n * (n + 1) > INT_MAX)
    return false;
  if (r.panel == nullptr && n * t * (k + 1) > 0) return false;
  if (h >= 1 && (r.restriction_rhs == nullptr || r.restriction_coef == nullptr))
    return false;
  return true;
}

struct Canary {
  qvd::host::Panel panel;
  qvd::host::TestOptions options;
  std::vector<std::uint64_t> expected;
};

std::vector<std::uint64_t> result_bits(const DependenceRequest &r) {
  std::vector<std::uint64_t> out = {
      bits(r.lm), bits(r.lm_pvalue), bits(r.scaled_lm),
      bits(r.scaled_lm_pvalue), bits(r.cd), bits(r.cd_pvalue), bits(r.cdp),
      bits(r.cdp_pvalue)};
  for (int c = 0; c < r.n_sections * (r.n_sections + 1) / 2; ++c)
    out.push_back(bits(r.correlations[c]));
  return out;
}

std::vector<std::uint64_t> run_canary(RecordingHost &host, TestInstance *t,
                                      const Canary &canary) {
  DependenceRequest r = qvd::host::make_request(canary.panel, canary.options);
  const qvd::host::RunOutcome outcome = host.run(t, &r);
  check(outcome.status == QVDEP_RUN_OK, "known request fails");
  std::vector<std::uint64_t> out = result_bits(r);
  host.free_block(t, r.correlations);
  return out;
}

// How the runs ended, printed when the fuzzer exits.
struct Tally {
  long completed = 0, refused_block = 0, refused_request = 0, trapped = 0,
       raised = 0;
  ~Tally() {
    std::fprintf(stderr,
                 "runs: %ld completed, %ld refused a block, %ld refused as "
                 "invalid, %ld trapped, %ld raised a fault\n",
                 completed, refused_block, refused_request, trapped, raised);
  }
};

struct Fixture {
  Tally tally;
  RecordingHost host{QVDEP_MODULE_PATH};
  ExtensionDescriptor *descriptor = nullptr;
  Canary canary;

  Fixture() {
    host.faults().max_block = kMaxBlock;
    descriptor = host.create_descriptor();
    check(descriptor != nullptr, "no descriptor");
    canary.panel = {4, 7, 1, {}};
    for (int i = 0; i < 4 * 7; ++i) {
      canary.panel.values.push_back((i * 37 % 11) / 4.0);
      canary.panel.values.push_back((i * 53 % 13) / 8.0 + i % 3);
    }
    canary.options.cdp_order = 2;
    TestInstance *t = host.create_instance(descriptor);
    canary.expected = run_canary(host, t, canary);
    host.destroy_instance(t);
  }
};

Fixture &fixture() {
  static Fixture f;
  return f;
}

int pool_of(const RecordingHost &host, const void *instance) {
  for (const auto &block : host.live_blocks())
    if (block.address == instance) return block.pool;
  fail("instance block not live");
  return -1;
}

std::vector<qvd::host::BlockRecord> blocks_in(const RecordingHost &host, int pool) {
  std::vector<qvd::host::BlockRecord> out;
  for (const auto &block : host.live_blocks())
    if (block.pool == pool) out.push_back(block);
  return out;
}

bool same_bits(const std::vector<double> &a, const std::vector<double> &b) {
  return a.size() == b.size() &&
         (a.empty() || std::memcmp(a.data(), b.data(), a.size() * 8) == 0);
}

bool pvalue_ok(double p) {
  return bits(p) == QVDEP_MISSING_RESULT_BITS ||
         (!std::isnan(p) && p >= 0.0 && p <= 1.0);
}

// Byte ranges of the request the module may write after a completed run.
bool module_owned(std::size_t byte) {
  return (byte >= 56 && byte < 76) || (byte >= 80 && byte < 112) || byte >= 120;
}

void check_request(const DependenceRequest &before, const DependenceRequest &after,
                   std::int32_t status) {
  const auto *a = reinterpret_cast<const unsigned char *>(&before);
  const auto *b = reinterpret_cast<const unsigned char *>(&after);
  for (std::size_t i = 0; i < sizeof before; ++i) {
    if (a[i] == b[i]) continue;
    check(status != QVDEP_RUN_INVALID_REQUEST, "refused request was written");
    check(module_owned(i), "request changed outside the module's fields");
    check(status != QVDEP_RUN_POOL_REFUSED || i < 120,
          "a result was written although a block was refused");
  }
  check(after.near_perfect_fit == before.near_perfect_fit ||
            after.near_perfect_fit == 1,
        "near_perfect_fit set to something other than 1");
}

void check_completed(RecordingHost &host, int pool, const DependenceRequest &r) {
  check(r.sscp == nullptr && r.sscp_saved == nullptr && r.row == nullptr &&
            r.sweep_work == nullptr && r.pivot_flags == nullptr,
        "work field left set");
  check(r.intercept_copy == r.n_intercept, "intercept copy");
  for (double p : {r.lm_pvalue, r.scaled_lm_pvalue, r.cd_pvalue, r.cdp_pvalue})
    check(pvalue_ok(p), "p-value outside [0, 1] and not missing");
  const auto live = blocks_in(host, pool);
  check(live.size() == 2, "work buffer not given back");
  const std::uint64_t n = static_cast<std::uint64_t>(r.n_sections);
  bool found = false;
  for (const auto &block : live)
    found |= block.address == r.correlations && block.size == 8 * (n * (n + 1) / 2);
  check(found, "correlations not the block left in the pool");
}

void run_one(FuzzedDataProvider &in) {
  Fixture &f = fixture();
  RecordingHost &host = f.host;
  qvd::host::FaultPlan &plan = host.faults();
  plan.refuse_zero_size = in.ConsumeBool();
  plan.null_locale = in.ConsumeBool();
  plan.zero_fill = in.ConsumeBool();
  TestInstance *t = host.create_instance(f.descriptor);
  if (t == nullptr) fail("no instance");
  const int pool = pool_of(host, t);

  const bool edge = in.ConsumeIntegralInRange<int>(0, 7) == 0;
  DependenceRequest r;
  std::memset(&r, in.ConsumeIntegral<unsigned char>(), sizeof r);
  r.n_sections = dimension(in, edge, 9);
  r.n_periods = dimension(in, edge, 12);
  r.n_regressors = dimension(in, edge, 3);
  r.n_intercept = edge ? dimension(in, true, 0) : in.ConsumeBool();
  r.n_restrictions = dimension(in, edge, 3);
  r.cdp_order = in.ConsumeIntegral<std::int32_t>();
  r.near_perfect_fit = in.ConsumeBool();

  // Sizes in 64 bits; only requests within the budget get real arrays.
  const std::int64_t n = r.n_sections, tt = r.n_periods, k = r.n_regressors,
                     c = r.n_intercept, h = r.n_restrictions;
  const bool bounded = n >= 0 && tt >= 0 && k >= 0 && h >= 0 &&
                       (c == 0 || c == 1) && n <= kMaxSections &&
                       tt <= kMaxPeriods && k + c + h + 1 <= kMaxOrder;
  const std::int64_t panel_values = bounded ? n * tt * (k + 1) : 0;
  const std::int64_t restriction_values = bounded ? h * (k + c + 1) : 0;
  const bool small =
      bounded && panel_values + restriction_values <= kValueBudget;
  std::vector<double> panel, rhs, coef;
  if (small) {
    panel.resize(static_cast<std::size_t>(panel_values));
    rhs.resize(static_cast<std::size_t>(h));
    coef.resize(static_cast<std::size_t>(h * (k + c)));
    for (double &v : panel) v = value(in);
    for (std::int64_t row = 0; row < h; ++row) {
      double *coefs = coef.data() + row * (k + c);
      switch (in.ConsumeIntegralInRange<int>(0, 3)) {
        case 0: break;  // all-zero row
        case 1:         // contradicts the row before
          if (row > 0 && k + c > 0)
            std::memcpy(coefs, coefs - (k + c), sizeof(double) * (k + c));
          break;
        default:
          for (std::int64_t s = 0; s < k + c; ++s) coefs[s] = value(in);
      }
      rhs[row] = value(in);
    }
  }
  // The host's arrays, or null now and then (empty vectors give null too).
  const bool null_arrays = in.ConsumeIntegralInRange<int>(0, 15) == 0;
  r.panel = null_arrays ? nullptr : panel.empty() ? &f.canary.panel.values[0] : panel.data();
  r.restriction_rhs = null_arrays ? nullptr : rhs.empty() ? nullptr : rhs.data();
  r.restriction_coef = null_arrays ? nullptr : coef.empty() ? nullptr : coef.data();
  if (!small && r.panel != nullptr) r.panel = f.canary.panel.values.data();
  if (!small && h >= 1 && !null_arrays) {
    r.restriction_rhs = f.canary.panel.values.data();
    r.restriction_coef = f.canary.panel.values.data();
  }

  const bool valid = documented_valid(r);
  // A request too large to compute must stop at a refused block.
  long refuse = in.ConsumeIntegralInRange<int>(0, 12);
  if (refuse > 8) refuse = 0;
  if (valid && !small && refuse == 0) refuse = 1 + in.ConsumeIntegralInRange<int>(0, 7);
  host.refuse_alloc(refuse);

  const std::vector<double> panel_copy = panel, rhs_copy = rhs, coef_copy = coef;
  const DependenceRequest before = r;
  const qvd::host::RunOutcome outcome = host.run(t, &r);
  host.refuse_alloc(0);
  const bool trapped = outcome.call.trapped;
  const bool raised = !outcome.faults.empty();

  f.tally.completed += outcome.status == QVDEP_RUN_OK;
  f.tally.refused_block += outcome.status == QVDEP_RUN_POOL_REFUSED;
  f.tally.refused_request += outcome.status == QVDEP_RUN_INVALID_REQUEST;
  f.tally.trapped += trapped;
  f.tally.raised += raised;
  check(trapped || outcome.status == QVDEP_RUN_OK ||
            outcome.status == QVDEP_RUN_POOL_REFUSED ||
            outcome.status == QVDEP_RUN_INVALID_REQUEST,
        "status not 0, 1 or 2");
  check((outcome.status == QVDEP_RUN_INVALID_REQUEST) == !valid,
        "status 2 differs from the documented rule");
  if (!small) check(outcome.status != QVDEP_RUN_OK, "large request ran");
  check(same_bits(panel, panel_copy) && same_bits(rhs, rhs_copy) &&
            same_bits(coef, coef_copy),
        "host arrays changed");
  check_request(before, r, outcome.status);
  if (outcome.status == QVDEP_RUN_INVALID_REQUEST)
    check(blocks_in(host, pool).size() == 1, "refused request took a block");
  if (outcome.status == QVDEP_RUN_OK) check_completed(host, pool, r);

  if (trapped || raised || outcome.status == QVDEP_RUN_POOL_REFUSED) {
    plan.refuse_zero_size = false;
    check(run_canary(host, t, f.canary) == f.canary.expected,
          "known request on the same instance gives other results");
  }
  host.destroy_instance(t);
  check(blocks_in(host, pool).empty(), "block left after destroy");
  check(host.open_journals() == 0, "journal left open");
  check(host.live_pools() == 1, "pool left after destroy");
  host.forget_history();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fixture();  // loads the module before fuzzing, so its coverage is seen
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  run_one(in);
  return 0;
}
