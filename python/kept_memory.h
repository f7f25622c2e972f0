// Freed memory kept in the interpreter for its next analysis.
//
// An analysis of 2,000 cross-sections allocates and frees some 250 MB.
// glibc's allocator gives the free top of a heap back to the system once it
// exceeds its trim threshold, and serves blocks above its mmap threshold
// from mappings of their own, unmapped when freed; the next analysis then
// meets fresh pages, each costing a fault when first touched. On the
// virtual machines analyses usually run on a 4 kB fault costs about 10 us:
// measured on the 2000/250/4 panel, a warm call on a DataFrame met 11,000
// faults and took 0.40 to 0.46 s, against 0.28 to 0.33 s with the memory
// kept.
//
// `keep_freed_memory` raises glibc's trim threshold to twice the analysis's
// own estimate (never lowering it, never below the 64 MiB glibc reaches on
// its own, and at most an eighth of the physical memory) and pins the mmap
// threshold at its largest, 32 MiB, so that what an analysis frees is there
// for the next one: the interpreter's resident memory stays near the
// largest analysis's peak, as a BLAS keeps its buffers.
// `release_freed_memory` gives the free memory of every heap back to the
// system at once (the next analysis keeps its own again). Both do nothing
// where the C library is not glibc.
#ifndef QVDEP_PYTHON_KEPT_MEMORY_H
#define QVDEP_PYTHON_KEPT_MEMORY_H

namespace qvd::python {

void keep_freed_memory(double analysis_bytes);
void release_freed_memory();

}  // namespace qvd::python

#endif
