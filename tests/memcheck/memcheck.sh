#!/usr/bin/env bash
# Runs the Linux end-to-end tests (posix_tests: the converter run as a process,
# the bad-input matrix, the run driver, vm-simobs; scan_tests: vm-scan against
# converter runs) and the fuzz replays under valgrind's memcheck, following
# every program they start except python3 and fitsverify:
#   memcheck.sh BUILD        (a Linux build folder without sanitizers)
# Passes when every test passes and no process has a memcheck error or a
# definite leak. The last line says how many processes were checked. Logs are
# left in BUILD/memcheck/.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
logs=$build/memcheck
rm -rf "$logs"
mkdir -p "$logs"
valgrind=(valgrind --error-exitcode=1 --leak-check=full --trace-children=yes
          --trace-children-skip='*python3*,*fitsverify*' --log-file="$logs/%p.log"
          --suppressions="$here/plot-libraries.supp" --suppressions="$here/glibc-threads.supp")

status=0
# check NAME COMMAND...: runs the command under valgrind, its output in NAME.out.
check() {
  local name=$1
  shift
  if ! "${valgrind[@]}" "$@" >"$logs/$name.out" 2>&1; then
    echo "$name failed under memcheck (see $logs/$name.out)"
    tail -n 30 "$logs/$name.out"
    echo "$name" >>"$logs/failed"
    return 1
  fi
}
# posix_tests and scan_tests, each in two halves (gtest's shards), so that
# the two processors stay busy to the end. Left to the native and sanitizer
# runs (minutes under memcheck, and no code of their own): the calibration's
# figures on 20 recordings and on the whole sample (its refusals and FITS
# files in kelvin run here); vm-batch's runs that convert an archive again
# and again to resume, rerun, fill and rebuild a catalog or find the default
# table (its first run and its shards run here, and the catalog's own tests);
# the pictures drawn twice for their bytes; a recording's products held to
# what vm-scan writes, which calibrates the recording nine times.
posix_filter='-BatchRun.InterruptedRunSummarisesAndResumes:BatchRun.RerunSkipsAndAChangedInputReconvertsOnlyItsRecordings'
posix_filter+=':BatchRun.KilledRunResumesToTheSameOutput:BatchRun.DefaultTableBesideVmFitsAndBackExtrapolation'
posix_filter+=':BatchRun.CatalogOfARunStaysOnRerunAndIsRebuiltTheSame:RecordingProducts.*'
scan_filter='-Calibration.*:SampleCalibration.VIs*:Pictures.SameInputSameBytes'
pids=()
for shard in 0 1; do
  GTEST_TOTAL_SHARDS=2 GTEST_SHARD_INDEX=$shard check "posix_tests-$((shard + 1))" "$build/tests/posix_tests" \
    --gtest_filter="$posix_filter" & pids+=("$!")
  GTEST_TOTAL_SHARDS=2 GTEST_SHARD_INDEX=$shard check "scan_tests-$((shard + 1))" "$build/tests/scan_tests" \
    --gtest_filter="$scan_filter" & pids+=("$!")
done
for target in header calibration repair scan_writer run scan_reader; do
  check "fuzz_replay_$target" "$build/tests/fuzz/${target}_fuzzer" \
    "$here/../fuzz/corpus/$target" "$here/../fuzz/regressions/$target" || status=1
done
for pid in "${pids[@]}"; do wait "$pid" || status=1; done

# A process that went on as python3 or fitsverify leaves a log of its start only.
checked=$(grep -l 'ERROR SUMMARY:' "$logs"/*.log | wc -l)
errors=$(grep -h 'ERROR SUMMARY:' "$logs"/*.log | awk '{sum += $4} END {print sum + 0}')
lost=$(grep -h 'definitely lost:' "$logs"/*.log | awk '{gsub(",", "", $4); sum += $4} END {print sum + 0}')
for log in "$logs"/*.log; do
  if grep -q 'ERROR SUMMARY: 0 errors' "$log"; then continue; fi
  if ! grep -q 'ERROR SUMMARY:' "$log" && [ "$(grep -c '^==[0-9]*== .' "$log")" -le 5 ]; then continue; fi
  echo "memcheck errors in $(grep -m1 'Command:' "$log" | sed 's/.*Command: //'):"
  grep -v -e 'Copyright' -e 'Using Valgrind' -e 'Memcheck, a memory' "$log" | head -n 40
  status=1
done
[ "$errors" -eq 0 ] && [ "$lost" -eq 0 ] || status=1
tests=passed
[ ! -e "$logs/failed" ] || tests="FAILED ($(tr '\n' ' ' <"$logs/failed"))"
echo "memcheck: $checked processes checked, $errors errors, $lost bytes definitely lost; tests $tests"
exit "$status"
