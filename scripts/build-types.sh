#!/usr/bin/env bash
# Builds vm-fits with every build type (Debug, Release, RelWithDebInfo,
# MinSizeRel) and both compilers (GCC 12, clang 14), warnings as errors, each
# in build/types/COMPILER-TYPE, and says which built. Not part of
# scripts/test.sh (eight whole builds); run it after changing the build or
# upgrading a compiler. Usage: scripts/build-types.sh [TYPE...]
set -uo pipefail
cd "$(dirname "$0")/.."
types=("$@")
[ "${#types[@]}" -gt 0 ] || types=(Debug Release RelWithDebInfo MinSizeRel)
jobs=$(nproc 2>/dev/null || echo 2)
mkdir -p build/types
status=0
results=()
for compiler in gcc clang; do
  if [ "$compiler" = gcc ]; then cc=gcc cxx=g++; else cc=clang-14 cxx=clang++-14; fi
  for type in "${types[@]}"; do
    dir=build/types/$compiler-$type
    if cmake -S . -B "$dir" -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" \
      -DCMAKE_BUILD_TYPE="$type" -DVMFITS_WERROR=ON >"$dir.log" 2>&1 &&
      cmake --build "$dir" -j"$jobs" >>"$dir.log" 2>&1; then
      results+=("$compiler $type: built")
    else
      results+=("$compiler $type: FAILED (see $dir.log)")
      grep -m 5 -E 'error:|warning:' "$dir.log"
      status=1
    fi
  done
done
printf '%s\n' "${results[@]}"
exit "$status"
