#!/usr/bin/env bash
# Fuzzes a target for a bounded time, starting from the saved corpus and the
# regression inputs: bounded_run.sh TARGET WORK SECONDS MAX-LEN INPUT-FOLDER...
# New inputs go to WORK/corpus (the saved corpus is not changed), a crash or
# a broken invariant to WORK/ as crash-*, leak-*, timeout-* or oom-*, and the
# run fails. The mutations follow a fixed seed; only the number of executions
# depends on the machine's speed. An input that runs 25 s, or a process above
# 2 GiB, counts as a finding.
set -uo pipefail
target=$1 work=$2 seconds=$3 longest=$4
shift 4
rm -rf "$work"
mkdir -p "$work/corpus"
"$target" -seed=1 -max_total_time="$seconds" -timeout=25 -rss_limit_mb=2048 -max_len="$longest" \
  -print_final_stats=1 -artifact_prefix="$work/" "$work/corpus" "$@" >"$work/log" 2>&1
status=$?
if [ "$status" -eq 0 ]; then
  grep -E '^#[0-9]+.*(INITED|DONE)|^stat::(number_of_executed_units|peak_rss_mb|new_units_added)' "$work/log"
else
  tail -n 120 "$work/log"
  echo "finding in $(basename "$target"): $(cd "$work" && ls | grep -v -e '^corpus$' -e '^log$' | tr '\n' ' ')"
fi
exit "$status"
