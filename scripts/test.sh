#!/usr/bin/env bash
# Builds vm-fits five times and runs every test:
#   build/linux   the Linux program and its tests
#   build/asan    the same with address and undefined-behaviour sanitizers
#   build/win64   the 64-bit Windows program, its tests under 64-bit Wine
#   build/win32   the 32-bit Windows program, its tests under 32-bit Wine where
#                 this machine can execute 32-bit x86 code (skipped elsewhere,
#                 with the reason, and where 32-bit Wine cannot be installed,
#                 with apt's reason); its static checks everywhere
#   build/fuzz    the fuzz targets with libFuzzer (clang); build/linux's
#                 end-to-end tests then run again under valgrind memcheck
# build/linux's cluster tests (vm-batch under Slurm, daemons started and
# stopped by the tests, and under GNU parallel) run as a stage of their own;
# where the daemons cannot start they are skipped, with the daemon's error.
# The last lines say which builds ran their tests and which were skipped.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

# Every group of packages but 32-bit Wine must install; when 32-bit Wine
# cannot, setup.sh leaves apt's reason in this file.
wine32_report="$root/build/setup/wine32-unavailable.txt"
VMFITS_SETUP_REPORT="$wine32_report" scripts/setup.sh --windows
wine32_unavailable=""
[ -f "$wine32_report" ] && wine32_unavailable=$(head -n 1 "$wine32_report" | tr ';' ',')

jobs=$(nproc 2>/dev/null || echo 2)

cmake -S . -B build/linux -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVMFITS_WERROR=ON
cmake --build build/linux -j"$jobs"

# The micro-benchmarks and their smoke tests run in build/linux only.
cmake -S . -B build/asan -DCMAKE_BUILD_TYPE=Debug -DVMFITS_SANITIZE=ON -DVMFITS_WERROR=ON -DVMFITS_BENCHMARKS=OFF
cmake --build build/asan -j"$jobs"

for bits in 64 32; do
  toolchain=$([ "$bits" = 64 ] && echo mingw-x86_64 || echo mingw-i686)
  cmake -S . -B "build/win$bits" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$toolchain.cmake" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVMFITS_LINUX_BUILD="$root/build/linux" -DVMFITS_WERROR=ON \
    -DVMFITS_WINE32_UNAVAILABLE="$wine32_unavailable"
  cmake --build "build/win$bits" -j"$jobs"
done

status=0
# run_tests TITLE BUILD CTEST-OPTIONS...: runs a build's tests, keeping CTest's
# report in BUILD/ctest-report.txt for the summary.
run_tests() {
  local title=$1 build=$2
  shift 2
  echo "== $title"
  (cd "$build" && ctest --output-on-failure "$@") 2>&1 | tee "$build/ctest-report.txt" ||
    status=1
}
run_tests "Linux tests" build/linux -j"$jobs" -LE cluster
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  run_tests "Linux tests with sanitizers" build/asan -j"$jobs"
# The Windows tests run one program at a time and the cluster tests mostly
# wait (for their daemons, the scheduler's polls): the three run side by
# side, each into its report, shown when all have ended.
# The fuzz targets are built meanwhile, on the processor they leave idle.
echo "== Windows tests under 64- and 32-bit Wine and cluster tests, side by side (the fuzz targets built meanwhile)"
side_by_side=()
for build in build/win64 build/win32 build/linux/cluster-tests; do
  (cd "$build" && ctest --output-on-failure >ctest-report.txt 2>&1) &
  side_by_side+=("$!")
done
mkdir -p build/fuzz
(cmake -S . -B build/fuzz -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVMFITS_FUZZ=ON -DVMFITS_WERROR=ON &&
  nice cmake --build build/fuzz -j1 --target fuzzers) >build/fuzz/build.log 2>&1 &
fuzz_build=$!
for pid in "${side_by_side[@]}"; do wait "$pid" || status=1; done
fuzz_built=0
wait "$fuzz_build" && fuzz_built=1
for stage in "64-bit Windows tests under 64-bit Wine|build/win64" "32-bit Windows tests under 32-bit Wine|build/win32" \
  "Cluster tests: vm-batch under Slurm and GNU parallel|build/linux/cluster-tests"; do
  echo "== ${stage%%|*}"
  cat "${stage##*|}/ctest-report.txt"
done

# Fuzzing (clang, libFuzzer, address and undefined-behaviour sanitizers): the
# saved corpus and the regression inputs replayed, then each target fuzzed for
# 30 s, two at a time. Then the Linux end-to-end tests under valgrind memcheck.
if [ "$fuzz_built" -ne 1 ]; then
  cat build/fuzz/build.log >&2
  echo "the fuzz targets could not be built (build/fuzz/build.log)" >&2
  exit 1
fi
cmake --build build/fuzz -j"$jobs" --target fuzzers
run_tests "Fuzz replays and bounded fuzz runs" build/fuzz -j"$jobs"
echo "== Linux end-to-end tests under valgrind memcheck"
bash tests/memcheck/memcheck.sh build/linux 2>&1 | tee build/linux/memcheck-report.txt || status=1

# summarise TITLE BUILD: one line of what the build's tests did; skipped
# tests are named with the reasons they gave.
summarise() {
  local title=$1 build=$2 report="$2/ctest-report.txt" line
  local pattern='^ *[0-9]+/[0-9]+ Test +#[0-9]+: '
  local total passed skipped other skipped_names reasons
  total=$(grep -Ec "$pattern" "$report" || true)
  passed=$(grep -E "$pattern" "$report" | grep -Ec ' Passed ' || true)
  skipped=$(grep -E "$pattern" "$report" | grep -Ec '\*\*\*Skipped' || true)
  other=$((total - passed - skipped))
  line="$title: $total tests, $passed passed"
  [ "$other" -eq 0 ] || line="$line, $other FAILED"
  if [ "$skipped" -gt 0 ]; then
    skipped_names=$(grep -E "$pattern" "$report" | grep '\*\*\*Skipped' |
      sed -E 's/.*Test +#[0-9]+: ([^ ]+).*/\1/' | tr '\n' ' ')
    reasons=$(grep -h '^skipped: ' "$build/Testing/Temporary/LastTest.log" 2>/dev/null |
      sed 's/^skipped: //' | sort -u | paste -sd ';' - || true)
    line="$line, $skipped skipped (${skipped_names% }): ${reasons:-no reason given}"
  fi
  echo "$line"
}

echo
echo "== Summary"
summarise "Linux" build/linux
summarise "Cluster (build/linux: Slurm, GNU parallel)" build/linux/cluster-tests
summarise "Linux with sanitizers" build/asan
summarise "Windows 64-bit (build/win64, wine64)" build/win64
summarise "Windows 32-bit (build/win32, 32-bit wine)" build/win32
summarise "Fuzzing (build/fuzz: replays, 30 s runs)" build/fuzz
echo "Linux under valgrind (build/linux): $(tail -n 1 build/linux/memcheck-report.txt)"
if [ "$status" -ne 0 ]; then echo "SOME TESTS FAILED"; fi
exit "$status"
