#!/usr/bin/env bash
# The GNU parallel line of docs/cluster.md, run on this machine alone (-S :, the
# local machine, where the recipe names the nodes): three shards, one vm-batch at a
# time, give a single run's outputs, and merged, its summary and manifest.
# (HOME is the work folder: parallel keeps files in ~/.parallel.)
source "$(dirname "$0")/archive.sh"
command -v parallel >/dev/null || skip "GNU parallel is not installed (scripts/setup.sh installs it)"
prepare_archive
start=$(now)
HOME="$work" parallel -j1 -S : "$bin/vm-batch" "$archive" "$work/out" --shard {}/3 ::: 0 1 2 \
  </dev/null >"$work/parallel.txt" 2>&1 && status=0 || status=$?
parallel_seconds=$(seconds_since "$start")
# parallel's exit code is the number of jobs that failed: the shard with the two failures.
[ "$status" -eq 1 ] || { cat "$work/parallel.txt"; fail "parallel ended with $status, not 1"; }
once_each "$work/out" 3
same_outputs "$reference" "$work/out"
"$bin/vm-batch" --merge-summaries "$work/out" >"$work/merge.txt" 2>&1 && status=0 || status=$?
cat "$work/merge.txt"
[ "$status" -eq 1 ] || fail "--merge-summaries ended with $status, not 1 (two recordings failed)"
same_merged "$reference" "$work/out"
echo "timing: single vm-batch run $single_run_seconds s; parallel -j1 -S : over 3 shards $parallel_seconds s"
echo "ok: GNU parallel's three shards wrote what a single run writes"
