#!/usr/bin/env bash
# The module's BLAS is the serial reference archive whatever libblas.a comes
# first on the library path (Debian's alternatives make the generic
# lib/<arch>/libblas.a OpenBLAS's archive once libopenblas-dev is
# installed), and configuring refuses a tuned BLAS named outright. A decoy
# libblas.a that looks like OpenBLAS (daxpy_ beside openblas_get_config)
# goes first on CMAKE_LIBRARY_PATH; the project is configured in a scratch
# directory (no tests, no Python package) and the module's link line read.
#   module_blas_test.sh SOURCE_DIR C_COMPILER
set -euo pipefail
source=$1 cc=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir "$scratch/decoy"
printf 'void daxpy_(void) {}\nconst char *openblas_get_config(void) { return "decoy"; }\n' \
  >"$scratch/decoy/decoy.c"
"$cc" -c -fPIC "$scratch/decoy/decoy.c" -o "$scratch/decoy/decoy.o"
ar rcs "$scratch/decoy/libblas.a" "$scratch/decoy/decoy.o"

configure() {
  cmake -S "$source" -B "$scratch/build" -DBUILD_TESTING=OFF -DQVDEP_PYTHON=OFF \
    -DQVDEP_BENCHMARKS=OFF -DCMAKE_LIBRARY_PATH="$scratch/decoy" "$@" >"$scratch/log" 2>&1
}
configure || { cat "$scratch/log"; exit 1; }
link=$(cat "$scratch/build/module/CMakeFiles/qvdep.dir/link.txt")
taken=$(sed -n 's/^-- The module.s BLAS: \(.*\) (serial reference)$/\1/p' "$scratch/log")
echo "the module's BLAS: $taken"
case "$link" in *"$scratch/decoy"*) echo "the module links the decoy: $link"; exit 1 ;; esac
[[ -n "$taken" && "$link" == *" $taken "* ]] || { echo "not linked: $taken"; exit 1; }
symbols=$(nm --defined-only "$taken")
grep -qw daxpy_ <<<"$symbols" || { echo "$taken has no daxpy_"; exit 1; }
if grep -qE ' (openblas_|gotoblas|blas_thread_init)' <<<"$symbols"; then
  echo "$taken is OpenBLAS"; exit 1
fi

rm -rf "$scratch/build"
if configure -DQVDEP_BLAS_LIBRARY="$scratch/decoy/libblas.a"; then
  echo "a tuned BLAS named outright was accepted"; exit 1
fi
if ! grep -q "is a tuned BLAS" "$scratch/log" || ! grep -q "openblas_get_config" "$scratch/log"
then
  cat "$scratch/log"; exit 1
fi
echo "ok"
