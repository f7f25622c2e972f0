// QVDEP_VECTOR_CLONES before a function with element-wise loops builds it
// also for AVX2 and AVX-512, and the system picks the build the processor
// runs at load time (GCC's target_clones, on Linux). Each element's
// arithmetic is the same in every build (no operation is fused or
// reordered), so the bits are too; only the number of elements per
// instruction differs.
#ifndef QVDEP_ANALYSIS_LINALG_VECTOR_CLONES_H
#define QVDEP_ANALYSIS_LINALG_VECTOR_CLONES_H

// Builds with a sanitizer have one build of each: the load-time choice runs
// during relocation, before a sanitizer's runtime is ready for the
// instrumented chooser.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define QVDEP_VECTOR_CLONES
#elif defined(__linux__) && defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define QVDEP_VECTOR_CLONES __attribute__((target_clones("avx512f", "avx2", "default")))
#else
#define QVDEP_VECTOR_CLONES
#endif

#endif
