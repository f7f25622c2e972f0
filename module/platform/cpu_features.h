// The processor feature level: 0 until first needed, then set once from the
// processor's feature report. Levels from kFeatureLevelAvx up are given only
// to processors that support AVX and whose operating system saves the AVX
// register state; every x86-64 processor has at least SSE2.
#ifndef QVDEP_PLATFORM_CPU_FEATURES_H
#define QVDEP_PLATFORM_CPU_FEATURES_H

namespace qvd {

inline constexpr unsigned kFeatureLevelSse2 = 0x10000;
inline constexpr unsigned kFeatureLevelAvx = 0x20000;
// AVX-512 Foundation, with the opmask and all 512-bit register state saved
// by the operating system. Implies kFeatureLevelAvx.
inline constexpr unsigned kFeatureLevelAvx512 = 0x30000;

// The level, detected on the first call.
unsigned processor_feature_level();

// Tests only: force a level (0 makes the next call detect again).
void set_processor_feature_level_for_testing(unsigned level);

}  // namespace qvd

#endif
