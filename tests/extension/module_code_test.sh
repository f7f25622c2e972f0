#!/usr/bin/env bash
# The built module's machine code and imports, as the platform loader sees
# them: square roots are the processor's instruction (no call to a sqrt
# function of the C library), and the module imports nothing that takes
# memory or starts threads, nor a BLAS that the process could swap for
# another (its daxpy is linked in and hidden).
set -euo pipefail
lib=$1
code=$(objdump -d --no-show-raw-insn "$lib")

calls=$(grep -E 'call.*<[^>]*sqrt' <<<"$code" || true)
if [ -n "$calls" ]; then echo "sqrt is called, not computed:"; echo "$calls"; exit 1; fi
grep -qE '\bv?sqrt[sp]d\b' <<<"$code" || { echo "no square-root instruction in the module"; exit 1; }

imports=$(nm -D --undefined-only "$lib" | awk '{print $NF}' | sed 's/@.*//')
bad=$(grep -xE 'malloc|calloc|realloc|free|posix_memalign|aligned_alloc|memalign|valloc|mmap|mmap64|sbrk|brk|_Zn[wa].*|pthread_create|clone|clone3|fork|sqrt|daxpy_|.*blas.*' <<<"$imports" || true)
if [ -n "$bad" ]; then echo "unexpected imports:"; echo "$bad"; exit 1; fi
needed=$(objdump -p "$lib" | awk '/NEEDED/ {print $2}')
if grep -qiE 'blas|lapack|gfortran|pthread|gomp' <<<"$needed"; then
  echo "unexpected libraries needed:"; echo "$needed"; exit 1
fi
echo "ok"
