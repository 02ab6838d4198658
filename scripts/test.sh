#!/usr/bin/env bash
# Builds vm-fits three times and runs every test:
#   build/linux   the Linux program and its tests
#   build/asan    the same with address and undefined-behaviour sanitizers
#   build/win32   the 32-bit Windows program, its tests under Wine
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

scripts/setup.sh --windows

jobs=$(nproc 2>/dev/null || echo 2)

cmake -S . -B build/linux -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build/linux -j"$jobs"

cmake -S . -B build/asan -DCMAKE_BUILD_TYPE=Debug -DVMFITS_SANITIZE=ON
cmake --build build/asan -j"$jobs"

cmake -S . -B build/win32 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVMFITS_LINUX_BUILD="$root/build/linux"
cmake --build build/win32 -j"$jobs"

status=0
echo "== Linux tests"
(cd build/linux && ctest --output-on-failure -j"$jobs") || status=1
echo "== Linux tests with sanitizers"
(cd build/asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --output-on-failure -j"$jobs") || status=1
echo "== Windows tests under Wine"
(cd build/win32 && ctest --output-on-failure) || status=1

if [ "$status" -ne 0 ]; then echo "SOME TESTS FAILED"; fi
exit "$status"
