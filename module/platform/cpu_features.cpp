#include "platform/cpu_features.h"

#include <atomic>

#include <cpuid.h>
#include <immintrin.h>

namespace qvd {
namespace {

// Relaxed is enough: every thread that detects stores the same value.
std::atomic<unsigned> g_feature_level{0};

constexpr unsigned kCpuidOsxsave = 1u << 27;  // leaf 1, ECX
constexpr unsigned kCpuidAvx = 1u << 28;      // leaf 1, ECX
constexpr unsigned long long kXcr0SseAvxState = 0x6;  // XMM and YMM saved
constexpr unsigned kCpuidAvx512f = 1u << 16;  // leaf 7 subleaf 0, EBX
// Opmask, upper halves of ZMM0-15 and ZMM16-31 saved, on top of XMM and YMM.
constexpr unsigned long long kXcr0Avx512State = 0xE6;

__attribute__((target("xsave"))) unsigned long long read_xcr0() {
  return _xgetbv(0);
}

unsigned detect_feature_level() {
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) return kFeatureLevelSse2;
  const bool avx = (ecx & kCpuidAvx) != 0;
  const bool osxsave = (ecx & kCpuidOsxsave) != 0;
  if (!avx || !osxsave) return kFeatureLevelSse2;
  const unsigned long long xcr0 = read_xcr0();
  if ((xcr0 & kXcr0SseAvxState) != kXcr0SseAvxState) return kFeatureLevelSse2;
  unsigned a7 = 0, b7 = 0, c7 = 0, d7 = 0;
  if (__get_cpuid_count(7, 0, &a7, &b7, &c7, &d7) != 0 &&
      (b7 & kCpuidAvx512f) != 0 && (xcr0 & kXcr0Avx512State) == kXcr0Avx512State)
    return kFeatureLevelAvx512;
  return kFeatureLevelAvx;
}

}  // namespace

unsigned processor_feature_level() {
  unsigned level = g_feature_level.load(std::memory_order_relaxed);
  if (level == 0) {
    level = detect_feature_level();
    g_feature_level.store(level, std::memory_order_relaxed);
  }
  return level;
}

void set_processor_feature_level_for_testing(unsigned level) {
  g_feature_level.store(level, std::memory_order_relaxed);
}

}  // namespace qvd
