#!/usr/bin/env bash
# Installs the build tree into a scratch prefix and builds a tiny consumer
# against it twice, through find_package(qvdep) and through pkg-config; both
# must run and print the module's release. The installed tool must find the
# installed module on its own.
#   install_test.sh BUILD_DIR SOURCE_DIR SANITIZER_FLAGS
set -euo pipefail
build=$1 source=$2 flags=${3:-}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
prefix=$scratch/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null

cmake -S "$source/tests/install/consumer" -B "$scratch/cmake-build" \
  -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_C_FLAGS="$flags" \
  -DCMAKE_EXE_LINKER_FLAGS="$flags" >/dev/null
cmake --build "$scratch/cmake-build" >/dev/null
by_cmake=$("$scratch/cmake-build/consumer")

pc_dir=$(dirname "$(find "$prefix" -name qvdep.pc)")
cc $flags $(PKG_CONFIG_PATH=$pc_dir pkg-config --cflags qvdep) \
  "$source/tests/install/consumer/consumer.c" -o "$scratch/pc-consumer" \
  $(PKG_CONFIG_PATH=$pc_dir pkg-config --libs qvdep)
libdir=$(PKG_CONFIG_PATH=$pc_dir pkg-config --variable=libdir qvdep)
by_pkgconfig=$(LD_LIBRARY_PATH=$libdir "$scratch/pc-consumer")

by_tool=$("$prefix/bin/qvdep" --version | sed -n 's/^module \([^:]*\):.*/\1/p')
echo "find_package: $by_cmake; pkg-config: $by_pkgconfig; tool: $by_tool"
[ -n "$by_cmake" ] && [ "$by_cmake" = "$by_pkgconfig" ] && [ "$by_tool" = "$by_cmake" ]
