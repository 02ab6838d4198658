#!/usr/bin/env bash
# The cluster tests where the daemons cannot start: with slurm.conf naming a
# plugin this machine does not have, the Slurm tests must exit 77 (skipped)
# with the daemon's own error on a "skipped:" line, and leave none of the
# daemons they started running.
set -euo pipefail
here=$(dirname "$0")
work=$(mktemp -d "${TMPDIR:-/tmp}/vm-cluster-skip-XXXXXX")
trap 'rm -rf "$work"' EXIT
for test in array_test.sh "faults_test.sh read-only"; do
  : >"$work/pids"
  # shellcheck disable=SC2086
  VMFITS_SLURM_CONF_EXTRA="ProctrackType=proctrack/none-such" VMFITS_CLUSTER_PIDS="$work/pids" \
    bash "$here"/$test >"$work/log" 2>&1 && status=0 || status=$?
  cat "$work/log"
  [ "$status" -eq 77 ] || { echo "FAILED: $test ended with $status, not 77 (skipped)"; exit 1; }
  reason=$(grep '^skipped: ' "$work/log") || { echo "FAILED: $test gave no reason"; exit 1; }
  # Where the daemons start, the one that reads the broken setting is the one that failed.
  if grep -q '^slurmd ' "$work/pids"; then
    grep -q 'proctrack/none-such' <<<"$reason" || { echo "FAILED: $test's reason is not slurmd's error"; exit 1; }
  fi
  while read -r name pid; do
    if kill -0 "$pid" 2>/dev/null; then echo "FAILED: $test left $name (pid $pid) running"; exit 1; fi
  done <"$work/pids"
  echo "ok: $test skipped, $(wc -l <"$work/pids") daemons started and stopped"
done
