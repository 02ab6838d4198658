#!/usr/bin/env bash
# Faults a cluster brings, each on a single-node cluster of this machine, to
# the array job of batch/slurm/convert-archive.sbatch (3 shards, -j 1):
#   cancel      one task cancelled with scancel mid-run; that task submitted
#               again resumes and ends with a single run's outputs
#   same-shard  two tasks given the same shard: the second stops at once and
#               says why, the first ends with the outputs of that shard
#   read-only   the output folder becomes read-only mid-run (a read-only bind
#               mount over it): the recordings from then on fail with the
#               reason, nothing written before is lost, and the task submitted
#               again ends with the outputs of that shard
# "Mid-run" is made certain by a gate: the sample file al0 of one recording
# of shard 1 (2002/06, the 6th of its 10) is a named pipe, so that its
# conversion waits until the test feeds the pipe the real file.
# Usage: faults_test.sh cancel|same-shard|read-only
mode=${1:?usage: faults_test.sh cancel|same-shard|read-only}
source "$(dirname "$0")/archive.sh"
case $mode in
  cancel | same-shard) ;;
  read-only)
    [ "$(id -u)" -eq 0 ] || skip "a read-only bind mount needs root"
    mkdir "$work/mount-probe"
    mount --bind "$work/mount-probe" "$work/mount-probe" 2>"$work/mount.txt" ||
      skip "a read-only bind mount is not possible here: $(cat "$work/mount.txt")"
    umount "$work/mount-probe"
    ;;
  *) fail "unknown mode $mode" ;;
esac
source "$(dirname "$0")/slurm.sh"
start_cluster
prepare_archive
script="$VMFITS_SOURCE_DIR/batch/slurm/convert-archive.sbatch"
out="$work/out"
mkdir "$work/jobs"
cd "$work/jobs"
export VM_BATCH="$bin/vm-batch"
submit() { sbatch --parsable --array="$1" "$script" 3 "$archive" "$out" -j 1; }
state_of() { job_lines "$1" | cut -d' ' -f2; }
column() { tail -n +2 "$out/vm-batch-summary-1-of-3.csv" | cut -d, -f"$1"; }

"$bin/vm-batch" "$archive" "$work/shard1" --shard 1/3 >/dev/null 2>&1 || fail "the single run of shard 1 failed"
gate_recording=2002/06/sun.05h
line=$(grep -n "^$gate_recording," "$reference/vm-batch-summary.csv" | cut -d: -f1)
[ $(((line - 2) % 3)) -eq 1 ] || fail "$gate_recording is not in shard 1"
gate="$archive/${gate_recording%/*}/al0"
mv "$gate" "$work/gate-al0"
mkfifo "$gate"
restore_gate() { rm -f "$gate"; mv "$work/gate-al0" "$gate"; }
# A process of ours holds the pipe's other end: when a conversion opens it,
# $work/gate-reached appears; from $work/go on, the real al0 flows.
( exec 7>"$gate"; : >"$work/gate-reached"; until [ -e "$work/go" ]; do sleep 0.05; done; cat "$work/gate-al0" >&7 ) &
holder=$!
cleanup_steps+=('[ -z "$holder" ] || kill "$holder" 2>/dev/null')
wait_gate() {
  local deadline=$((SECONDS + 60))
  until [ -e "$work/gate-reached" ]; do
    [ "$SECONDS" -lt "$deadline" ] || fail "no conversion reached $gate within 60 s"
    sleep 0.05
  done
}
release_gate() { : >"$work/go"; wait "$holder" || true; holder=""; }

case $mode in
  cancel)
    job=$(submit 0-2)
    wait_gate
    scancel "${job}_1"
    wait_job "$job"
    accounted "$job" 3
    grep -q "^${job}_1 CANCELLED" "$work/states.txt" || fail "the cancelled task is $(grep "^${job}_1 " "$work/states.txt")"
    [ "$(column 2 | grep -cx converted)" -eq 5 ] || fail "the cancelled task's summary: $(cat "$out/vm-batch-summary-1-of-3.csv")"
    restore_gate
    job=$(submit 1)
    wait_job "$job"
    [ "$(state_of "$job")" = COMPLETED ] || { cat "slurm-${job}_1.out"; fail "the resubmitted task is $(state_of "$job")"; }
    [ "$(column 2 | sort | uniq -c | tr -s ' ' | tr '\n' ';')" = " 5 converted; 5 skipped;" ] ||
      fail "the resubmitted task did not skip the 5 recordings converted before: $(cat "$out/vm-batch-summary-1-of-3.csv")"
    same_outputs "$reference" "$out"
    ;;
  same-shard)
    first=$(submit 1)
    wait_gate
    second=$(submit 1)
    wait_job "$second"
    [ "$(state_of "$second")" = FAILED ] || fail "the second task of shard 1 is $(state_of "$second")"
    grep -q "vm-batch-manifest-1-of-3.jsonl is in use by another vm-batch run" "slurm-${second}_1.out" ||
      { cat "slurm-${second}_1.out"; fail "the second task did not say why it stopped"; }
    release_gate
    wait_job "$first"
    [ "$(state_of "$first")" = COMPLETED ] || { cat "slurm-${first}_1.out"; fail "the first task is $(state_of "$first")"; }
    accounted "$first" 1
    accounted "$second" 1
    same_outputs "$work/shard1" "$out"
    cmp "$work/shard1/vm-batch-summary-1-of-3.csv" "$out/vm-batch-summary-1-of-3.csv" || fail "the summary of shard 1 differs"
    restore_gate
    ;;
  read-only)
    job=$(submit 1)
    wait_gate
    # What is there before the folder is lost (the gate's own folder is being written).
    (cd "$out" && find . -path "./${gate_recording%/*}" -prune -o -type f ! -name 'vm-batch-*' -print0 |
      sort -z | xargs -0 sha256sum) >"$work/before.txt"
    [ "$(wc -l <"$work/before.txt")" -gt 5 ] || fail "too little written before the gate: $(cat "$work/before.txt")"
    cp "$out/vm-batch-manifest-1-of-3.jsonl" "$work/manifest-before"
    mount --bind "$out" "$out"
    cleanup_steps+=('umount "$out"')
    mount -o remount,bind,ro "$out"
    release_gate
    wait_job "$job"
    log="slurm-${job}_1.out"
    [ "$(state_of "$job")" = FAILED ] || { cat "$log"; fail "the task that lost its output folder is $(state_of "$job")"; }
    sed -n '/^failed recordings:/,$p' "$log"
    [ "$(sed -n '/^failed recordings:/,$p' "$log" | grep -c "^  [0-9/]*[a-z]*\.0[0-9]h: Can't ")" -eq 5 ] ||
      { cat "$log"; fail "the gate and the 4 recordings after it are not listed as failed with the reason"; }
    grep -q "^summary: Can't write $out/vm-batch-summary-1-of-3.csv: Read-only file system" "$log" ||
      { cat "$log"; fail "the summary that could not be written is not reported"; }
    umount "$out"
    unset 'cleanup_steps[-1]'
    (cd "$out" && sha256sum --quiet -c "$work/before.txt") || fail "files written before the folder became read-only changed"
    cmp -n "$(stat -c %s "$work/manifest-before")" "$work/manifest-before" "$out/vm-batch-manifest-1-of-3.jsonl" ||
      fail "the manifest lost lines written before the folder became read-only"
    restore_gate
    job=$(submit 1)
    wait_job "$job"
    [ "$(state_of "$job")" = COMPLETED ] || { cat "slurm-${job}_1.out"; fail "the resubmitted task is $(state_of "$job")"; }
    same_outputs "$work/shard1" "$out"
    ;;
esac
echo "ok: $mode"
