#!/usr/bin/env bash
# Converts a fixed set of recordings with vm-fits and prints, for each, the
# exit code, the status lines, the ids of its warnings and a SHA-256 digest
# of every file written. The list is compared with converter_outputs.txt, so
# that no change to the converter alters a byte, a file name, a status line,
# a warning or an exit code.
#   converter_outputs.sh VM-FITS VM-SIMOBS [EXPECTED]
# Without EXPECTED the list is printed; with it, a difference fails the test.
set -euo pipefail
source "$(dirname "$0")/../support/recordings.sh"
vmfits=$1 simobs=$2 expected=${3:-}
# The list was made in a work folder without a dot in its path; keep it so.
work=$(mktemp -d "${TMPDIR:-/tmp}/vmfits_outputs_XXXXXX")
trap 'rm -rf "$work"' EXIT
case "$work" in *.*) echo "the work folder $work holds a dot; set TMPDIR to one without"; exit 1 ;; esac

mkdir -p "$work/bin" "$work/nocfg"
cp "$vmfits" "$work/bin/vm-fits"
cp "$vmfits" "$work/nocfg/vm-fits"
"$simobs" --out "$work/table" --cfg --channels 1 >/dev/null
cp "$work/table/vm-fits.cfg" "$work/bin/vm-fits.cfg"

# name | vm-simobs options | edit | extra converter arguments | program folder
cases=(
  "seed1-two-sided|--seed 1|||bin"
  "seed1-back|--seed 1||back|bin"
  "seed2-defects|--seed 2 --defects|||bin"
  "seed2-defects-back|--seed 2 --defects||0|bin"
  "seed3-64ch|--seed 3 --channels 64|||bin"
  "seed4-64ch-back|--seed 4 --channels 64 --samples 4000||2|bin"
  "seed5-no-jumps|--seed 5 --no-jumps|||bin"
  "seed6-longest|--seed 6 --channels 6 --samples 8191|||bin"
  "seed7-too-long|--seed 7 --channels 4 --samples 9000||x|bin"
  "seed8-other-date|--seed 8 --date 1999-12-31 --scan 123 --name abc --channels 8|||bin"
  "seed9-five-args|--seed 9 --defects||a b c|bin"
  "seed19-many-markers|--seed 19 --channels 10|edit_many_markers||bin"
  "seed20-many-markers-back|--seed 20 --channels 10|edit_many_markers|back|bin"
  "short-files|--seed 10 --channels 4 --samples 50|edit_short_files||bin"
  "short-files-back|--seed 10 --channels 4 --samples 50|edit_short_files|back|bin"
  "odd-values|--seed 15 --channels 4 --samples 50|edit_odd_values||bin"
  "random-fields-1|--seed 16 --channels 12|edit_random_fields 1||bin"
  "random-fields-2|--seed 17 --channels 12|edit_random_fields 101|back|bin"
  "missing-ar|--seed 11 --channels 8|edit_missing_ar||bin"
  "missing-al|--seed 11 --channels 8|edit_missing_al||bin"
  "empty-marker|--seed 12 --channels 4|edit_empty_marker|back|bin"
  "missing-marker|--seed 13 --channels 4|edit_missing_marker||bin"
  "missing-header|--seed 14 --channels 2|edit_missing_header||bin"
  "missing-table|--seed 18 --channels 6|||nocfg"
  "scan-file-blocked|--seed 21 --channels 4||blocked|bin"
)

report=$work/report
: >"$report"
for entry in "${cases[@]}"; do
  IFS='|' read -r name options edit extra folder <<<"$entry"
  rec=$work/$name/rec out=$work/$name/out
  header=$(make_recording "$simobs" "$rec" "$options" "$edit")
  read -r -a extra_args <<<"$extra"
  if [ "$extra" = blocked ]; then  # a folder where the first scan file goes
    extra_args=()
    mkdir -p "$out/s05b03_05z.001"
  fi
  set +e
  XDG_CONFIG_HOME="$work/xdg" HOME="$work" "$work/$folder/vm-fits" "$header" "$out" \
    "${extra_args[@]}" </dev/null 2>"$work/$name/err" >/dev/null
  code=$?
  set -e
  echo "$name exit $code" >>"$report"
  # Status lines as they are; of the warnings, their ids.
  grep -v '^vm-fits: warning: ' "$work/$name/err" | sed "s|$work|WORK|g; s|^|$name status |" >>"$report" || true
  sed -n "s|^vm-fits: warning: \([a-z0-9-]*\): .*|$name warning \1|p" "$work/$name/err" >>"$report"
  if [ -d "$out" ]; then
    (cd "$out" && find . -type f | sort | while read -r f; do
      echo "$name file ${f#./} $(sha256sum "$f" | cut -d' ' -f1)"
    done) >>"$report"
  fi
done

if [ -z "$expected" ]; then
  cat "$report"
  exit 0
fi
if ! diff -u "$expected" "$report"; then
  echo "the converter's outputs differ from $expected"
  exit 1
fi
echo "$(grep -c ' file ' "$report") files of ${#cases[@]} recordings as expected"
