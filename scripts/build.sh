#!/usr/bin/env bash
# Builds the three trees from one CMake project:
#   build/win32   the shipped 32-bit program (Release, stripped)
#   build/win64   the same sources for 64-bit Windows, with the test programs
#   build/native  the pure cores and their tests under the sanitizers
# SORVANE_BUILD names another folder than build/ (for parallel work trees).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
jobs=$(nproc)

configure() { # dir, extra args...
  local dir=$1; shift
  if [ ! -f "$dir/CMakeCache.txt" ]; then
    cmake -S . -B "$dir" "$@" >/dev/null
  fi
}

b=${SORVANE_BUILD:-build}
configure "$b/win32" -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-win32.cmake \
  -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF
configure "$b/win64" -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-win64.cmake \
  -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=ON
configure "$b/native" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=Debug -DBUILD_TESTING=ON

for dir in "$b/win32" "$b/win64" "$b/native"; do
  cmake --build "$dir" -j "$jobs"
done
ls -l "$b/win32/sorvane.exe" "$b/win64/sorvane.exe"
