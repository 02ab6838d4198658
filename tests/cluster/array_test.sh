#!/usr/bin/env bash
# The Slurm array job of docs/cluster.md, run as written, over a simulated
# archive of 30 recordings (two of which fail) on a single-node cluster of
# this machine: every recording converted exactly once across the shards, the
# outputs a single vm-batch run's, the merged summary the single run's, each task
# COMPLETED or FAILED as its shard's recordings did, the catalog the shards
# filled together the one the single run's outputs give, and a resubmission of
# the whole array skipping everything that was converted.
source "$(dirname "$0")/archive.sh"
source "$(dirname "$0")/slurm.sh"
: "${VMFITS_ARCHIVE:?}"  # build/linux/tools/vm-archive
start_cluster
prepare_archive
script="$VMFITS_SOURCE_DIR/batch/slurm/convert-archive.sbatch"
mkdir "$work/jobs"
cd "$work/jobs"
export VM_BATCH="$bin/vm-batch"

# The recipe: the highest exit code of the tasks is sbatch's.
start=$(now)
sbatch --array=0-2 --wait "$script" 3 "$archive" "$work/out" --catalog "$work/array.sqlite" >"$work/sbatch.txt" 2>&1 &&
  status=0 || status=$?
array_seconds=$(seconds_since "$start")
cat "$work/sbatch.txt"
job=$(sed -n 's/^Submitted batch job \([0-9]*\)$/\1/p' "$work/sbatch.txt")
[ -n "$job" ] || fail "sbatch submitted nothing"
[ "$status" -eq 1 ] || { cat slurm-*.out; fail "sbatch --wait ended with $status, not 1"; }
accounted "$job" 3
failing=0
for k in 0 1 2; do
  # A task fails exactly when a recording of its shard failed.
  expected=COMPLETED
  if tail -n +2 "$work/out/vm-batch-summary-$k-of-3.csv" | cut -d, -f2 | grep -qx failed; then
    expected=FAILED failing=$((failing + 1))
  fi
  grep -qx "${job}_$k $expected" "$work/states.txt" ||
    { cat "slurm-${job}_$k.out"; fail "task $k is $(grep "^${job}_$k " "$work/states.txt"), not $expected"; }
done
[ "$failing" -ge 1 ] && [ "$failing" -le 2 ] || fail "$failing tasks failed; the archive's two failures should fail one or two"
once_each "$work/out" 3
same_outputs "$reference" "$work/out"
"$bin/vm-batch" --merge-summaries "$work/out" >"$work/merge.txt" 2>&1 && status=0 || status=$?
cat "$work/merge.txt"
[ "$status" -eq 1 ] || fail "--merge-summaries ended with $status, not 1 (two recordings failed)"
same_merged "$reference" "$work/out"
# One catalog, filled by the three tasks at once, holds what the single run's
# outputs give (each entry names its output folder: the two runs' differ).
"$bin/vm-batch" --rebuild-catalog "$work/single.sqlite" "$archive" "$reference" >"$work/rebuild.txt" 2>&1 ||
  [ $? -eq 1 ] || { cat "$work/rebuild.txt"; fail "--rebuild-catalog of the single run failed"; }
"$VMFITS_ARCHIVE" dump "$work/single.sqlite" | sed "s#$reference#OUTPUT#g" >"$work/single-dump.txt" ||
  fail "vm-archive dump of the single run's catalog failed"
"$VMFITS_ARCHIVE" dump "$work/array.sqlite" | sed "s#$work/out#OUTPUT#g" >"$work/array-dump.txt" ||
  fail "vm-archive dump of the array's catalog failed"
[ "$(grep -c '^recording ' "$work/array-dump.txt")" -eq "$recordings" ] ||
  fail "the array's catalog holds $(grep -c '^recording ' "$work/array-dump.txt") recordings, not $recordings"
diff "$work/single-dump.txt" "$work/array-dump.txt" >"$work/dump.diff" ||
  { head -40 "$work/dump.diff"; fail "the array's catalog is not the single run's"; }

# The whole array again: everything converted is skipped, the failed are tried again.
start=$(now)
job=$(sbatch --parsable --array=0-2 "$script" 3 "$archive" "$work/out")
wait_job "$job"
again_seconds=$(seconds_since "$start")
accounted "$job" 3
for k in 0 1 2; do
  summary="$work/out/vm-batch-summary-$k-of-3.csv"
  ! tail -n +2 "$summary" | cut -d, -f2 | grep -qx converted || fail "the resubmitted task $k converted again: $(cat "$summary")"
done
[ "$(cat "$work"/out/vm-batch-summary-?-of-3.csv | cut -d, -f2 | grep -cx skipped)" -eq 28 ] ||
  fail "the resubmission did not skip the 28 converted recordings"
same_outputs "$reference" "$work/out"
"$bin/vm-batch" "$archive" "$work/resumed" >/dev/null 2>&1 || true  # a warm whole run for the comparison below
start=$(now)
"$bin/vm-batch" "$archive" "$work/resumed" >/dev/null 2>&1 || true
resumed_seconds=$(seconds_since "$start")

echo "timing: single vm-batch run $single_run_seconds s; array of 3 (sbatch --wait) $array_seconds s;" \
  "array of 3 resubmitted, all skipped (submission to end) $again_seconds s; a resumed single run $resumed_seconds s"
echo "ok: the array converted each of the $recordings recordings once, as a single run does, into the same catalog; tasks COMPLETED and FAILED as their shards; the resubmission skipped all 28 converted"
