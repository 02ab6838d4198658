# Sourced by the cluster tests: a private work folder removed on every exit,
# a simulated archive, an installed vm-batch, and the comparisons of an output
# folder with a single vm-batch run's.
#   VMFITS_BATCH   build/linux/tools/vm-batch     VMFITS_BINARY  build/linux/vm-fits
#   VMFITS_SIMOBS  build/linux/tools/vm-simobs    VMFITS_SOURCE_DIR  the source tree
set -euo pipefail
: "${VMFITS_BATCH:?}" "${VMFITS_BINARY:?}" "${VMFITS_SIMOBS:?}" "${VMFITS_SOURCE_DIR:?}"

fail() { echo "FAILED: $*" >&2; exit 1; }
skip() { echo "skipped: $*"; exit 77; }
now() { date +%s.%N; }
seconds_since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.2f", b - a }'; }

# What runs on every exit, in order; the tests add to it (cleanup_steps+=(...)).
cleanup_steps=()
cleanup() {
  local status=$? step
  trap - EXIT
  for ((step = ${#cleanup_steps[@]} - 1; step >= 0; step--)); do eval "${cleanup_steps[step]}" || true; done
  exit "$status"
}
trap cleanup EXIT
trap 'exit 143' TERM INT HUP

work=$(mktemp -d "${TMPDIR:-/tmp}/vm-cluster-XXXXXX")
cleanup_steps+=('rm -rf "$work"')
export XDG_CONFIG_HOME="$work/config"  # the vm-fits runs remember nothing of the caller's

# An installation as docs/cluster.md's recipe has it: vm-batch with vm-fits and
# its calibration table beside it.
bin="$work/bin"
mkdir -p "$bin"
cp "$VMFITS_BATCH" "$VMFITS_BINARY" "$bin/"
"$VMFITS_SIMOBS" --out "$work/table" --cfg --channels 1 >/dev/null
cp "$work/table/vm-fits.cfg" "$bin/vm-fits.cfg"

# make_archive FOLDER: 30 recordings of 8 channels x 2000 samples in nested
# folders (year/month), among them: 2002/06 of 4 channels, all enabled (the
# fault tests hold its conversion at its al0), one with the awkward channels of
# --defects, a header cut to 1000 bytes, an empty marker file, two scans in one
# folder, and two that fail: a header without its marker file, and a
# recording that would write the same files as another of its folder.
make_archive() {
  local archive=$1 i folder date
  for ((i = 0; i < 28; i++)); do
    folder=$(printf '%s/%d/%02d' "$archive" $((2001 + i / 10)) $((i % 10 + 1)))
    date=$(printf '%d-%02d-%02d' $((2001 + i / 10)) $((i % 10 + 1)) $((i % 28 + 1)))
    local options=(--seed $((i + 1)) --channels 8 --samples 2000 --date "$date")
    [ "$i" -eq 3 ] && options+=(--defects)
    [ "$i" -eq 15 ] && options=(--seed 16 --channels 4 --samples 2000 --date "$date")
    "$VMFITS_SIMOBS" --out "$folder" "${options[@]}" >/dev/null
    case $i in
      7) head -c 1000 "$folder/sun.05h" >"$folder/cut" && mv "$folder/cut" "$folder/sun.05h" ;;
      12) "$VMFITS_SIMOBS" --out "$folder" "${options[@]}" --seed 99 --scan 6 >/dev/null ;;
      16) rm "$folder/sun.05p" ;;
      21) "$VMFITS_SIMOBS" --out "$folder" "${options[@]}" --name moon >/dev/null ;;
      25) : >"$folder/sun.05p" ;;
    esac
  done
}

# same_outputs REFERENCE OUTPUT: the same scan files and scan indexes, byte for byte.
same_outputs() {
  diff -r -x 'vm-batch-*' "$1" "$2" >"$work/diff.txt" || { head -20 "$work/diff.txt"; fail "$2 differs from $1"; }
}

# same_merged REFERENCE OUTPUT: after vm-batch --merge-summaries OUTPUT, its
# summary is the single run's byte for byte, and its manifest holds the same
# entries (but for their times).
same_merged() {
  cmp "$1/vm-batch-summary.csv" "$2/vm-batch-summary.csv" ||
    { diff "$1/vm-batch-summary.csv" "$2/vm-batch-summary.csv" | head; fail "the merged summary of $2 is not the single run's"; }
  local untimed='s/"time":"[^"]*"//'
  diff <(sed "$untimed" "$1/vm-batch-manifest.jsonl" | sort) <(sed "$untimed" "$2/vm-batch-manifest.jsonl" | sort) >"$work/diff.txt" ||
    { head -c 2000 "$work/diff.txt"; fail "the merged manifest of $2 is not the single run's"; }
}

# once_each OUTPUT SHARDS: every recording of the single run's summary is in
# exactly one shard's summary, and vm-fits ran at most once for each.
once_each() {
  local out=$1 shards=$2 k
  for ((k = 0; k < shards; k++)); do tail -n +2 "$out/vm-batch-summary-$k-of-$shards.csv"; done | cut -d, -f1 | sort >"$work/rows.txt"
  [ -z "$(uniq -d "$work/rows.txt")" ] || fail "recordings in more than one shard: $(uniq -d "$work/rows.txt" | tr '\n' ' ')"
  [ "$(wc -l <"$work/rows.txt")" -eq "$(tail -n +2 "$reference/vm-batch-summary.csv" | wc -l)" ] ||
    fail "the shards' summaries have $(wc -l <"$work/rows.txt") rows, the archive $(tail -n +2 "$reference/vm-batch-summary.csv" | wc -l) recordings"
  cat "$out"/vm-batch-manifest-*-of-"$shards".jsonl | grep -o '^{"recording":"[^"]*","state":"finished"' | sort | uniq -d >"$work/twice.txt" || true
  [ ! -s "$work/twice.txt" ] || fail "converted twice: $(cat "$work/twice.txt")"
}

# prepare_archive: the archive in $archive, converted by a single vm-batch
# run into $reference (which ends with 1: two recordings fail).
archive="$work/archive"
reference="$work/reference"
prepare_archive() {
  make_archive "$archive"
  local start status
  start=$(now)
  "$bin/vm-batch" "$archive" "$reference" >"$work/reference.log" 2>&1 && status=0 || status=$?
  single_run_seconds=$(seconds_since "$start")
  [ "$status" -eq 1 ] || { cat "$work/reference.log"; fail "the single run ended with $status, not 1 (two recordings fail)"; }
  recordings=$(tail -n +2 "$reference/vm-batch-summary.csv" | wc -l)
  [ "$recordings" -eq 30 ] || fail "the archive has $recordings recordings, not 30"
}
