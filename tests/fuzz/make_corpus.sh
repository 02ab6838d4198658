#!/usr/bin/env bash
# Makes the seed corpus in tests/fuzz/corpus from test recordings (vm-simobs
# recordings like those of tests/scan/converter_outputs.sh, some edited) and
# the bundled sample: each recording is converted with vm-fits, and
# make_seeds turns it and its outputs into inputs for every target.
#   make_corpus.sh BUILD     (a Linux build folder, e.g. build/linux)
# The corpus is kept in the repository; run this again only to remake it.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=$(cd "$1" && pwd)
corpus=$here/corpus
# The scan number is read after the first "." of a path: no dot in the work folder.
work=$(mktemp -d /tmp/vmfits_corpus_XXXXXX)
trap 'rm -rf "$work"' EXIT

put_floats() {  # FILE INDEX BYTES...: floats from INDEX on, as octal escapes
  local file=$1 at=$2
  shift 2
  printf "$(printf '%s' "$@")" | dd of="$file" bs=4 seek="$at" conv=notrunc status=none
}
edit_short_files() {
  : >"$1/al0"; : >"$1/ar0"
  head -c 4 "$1/al1" >"$1/x" && mv "$1/x" "$1/al1"
  head -c 6 "$1/ar2" >"$1/x" && mv "$1/x" "$1/ar2"
}
edit_odd_values() {
  put_floats "$1/al0" 10 '\000\000\300\177'
  put_floats "$1/ar0" 3 '\000\000\300\377'
  put_floats "$1/al1" 0 '\000\000\200\177'
  put_floats "$1/ar1" 7 '\000\000\200\377'
}
edit_many_markers() {
  local escapes="" i
  for i in $(seq 1 25); do escapes+=$(printf '\\%03o\\%03o\\%03o\\%03o' $((i * 37 % 256)) $((i * 37 / 256)) $((i * 8 % 256)) 0); done
  printf "$escapes\001\000\070\000\377\377\010\000" >"$1/sun.05p"
}
edit_crlf_table() { sed -i 's/$/\r/' "$1/vm-fits.cfg"; }

# name | vm-simobs options | edit
recordings=(
  "seed1|--seed 1 --channels 4 --samples 300|"
  "defects|--seed 2 --channels 6 --samples 200 --defects|"
  "no-jumps|--seed 5 --channels 4 --samples 100 --no-jumps|"
  "other-date|--seed 8 --date 1999-12-31 --scan 123 --name abc --channels 4 --samples 120|"
  "short-files|--seed 10 --channels 4 --samples 50|edit_short_files"
  "odd-values|--seed 15 --channels 4 --samples 50|edit_odd_values"
  "many-markers|--seed 19 --channels 4 --samples 200|edit_many_markers"
  "crlf-table|--seed 3 --channels 4 --samples 64|edit_crlf_table"
)

mkdir -p "$work/bin"
cp "$build/vm-fits" "$work/bin/vm-fits"
seed() {  # NAME RECORDING-FOLDER
  local name=$1 rec=$2 header
  header=$(compgen -G "$rec/*.*h" | head -n 1)
  cp "$rec/vm-fits.cfg" "$work/bin/vm-fits.cfg"
  XDG_CONFIG_HOME="$work/xdg" HOME="$work" "$work/bin/vm-fits" "$header" "$work/out-$name" \
    </dev/null >/dev/null 2>&1 || true
  "$build/tests/fuzz/make_seeds" "$header" "$rec/vm-fits.cfg" "$work/out-$name" "$corpus" "$name"
}
for entry in "${recordings[@]}"; do
  IFS='|' read -r name options edit <<<"$entry"
  # shellcheck disable=SC2086
  "$build/tools/vm-simobs" --out "$work/$name" --cfg $options >/dev/null
  [ -z "$edit" ] || "$edit" "$work/$name"
  seed "$name" "$work/$name"
done
cp -r "$root/samples/sun-2003-11-05" "$work/sample"
seed sample "$work/sample"

# The sample's whole run with each way of putting something in the output's
# way (the second byte of a run input; scan file 2 where one is named).
for sabotage in 1 2 3 4 5 6 7; do
  cp "$corpus/run/sample-two-sided" "$corpus/run/sample-sabotage-$sabotage"
  printf "$(printf '\\%03o' $((sabotage | 8)))" |
    dd of="$corpus/run/sample-sabotage-$sabotage" bs=1 seek=1 conv=notrunc status=none
done
for target in "$corpus"/*; do echo "$(basename "$target"): $(ls "$target" | wc -l) seeds"; done
