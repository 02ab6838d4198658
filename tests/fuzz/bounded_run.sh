#!/usr/bin/env bash
# Fuzzes a target for a bounded time, starting from the saved corpus and the
# regression inputs:
#   bounded_run.sh TARGET WORK SECONDS INPUT-FOLDER...
# New inputs go to WORK/corpus (the saved corpus is not changed), a crash, a
# broken invariant, a leak, an input that runs 25 s or a process above 2 GiB
# to WORK/ as crash-*, leak-*, timeout-* or oom-*, and the run fails. The
# mutations follow the seed FUZZ_SEED (default 1); only the number of
# executions depends on the machine's speed. The test command runs each
# target for 30 s; a long campaign is the same with more seconds.
set -uo pipefail
target=$1 work=$2 seconds=$3
shift 3
# The longest input of each target: a header and some; a table; a few
# thousand samples; a whole recording of four short channels; a scan file.
case $(basename "$target") in
  header_fuzzer | calibration_fuzzer) longest=2048 ;;
  scan_writer_fuzzer) longest=8192 ;;
  repair_fuzzer | scan_reader_fuzzer) longest=16384 ;;
  *) longest=32768 ;;
esac
rm -rf "$work"
mkdir -p "$work/corpus"
"$target" -seed="${FUZZ_SEED:-1}" -max_total_time="$seconds" -timeout=25 -rss_limit_mb=2048 \
  -max_len="$longest" -print_final_stats=1 -artifact_prefix="$work/" "$work/corpus" "$@" \
  >"$work/log" 2>&1
status=$?
if [ "$status" -eq 0 ]; then
  grep -E '^#[0-9]+.*(INITED|DONE)|^stat::(number_of_executed_units|peak_rss_mb|new_units_added)' "$work/log"
else
  tail -n 120 "$work/log"
  echo "finding in $(basename "$target"): $(cd "$work" && ls | grep -v -e '^corpus$' -e '^log$' | tr '\n' ' ')"
fi
exit "$status"
