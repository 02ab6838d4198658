#!/usr/bin/env bash
# Converts a fixed set of recordings with vm-fits and prints, for each, the
# exit code, the status lines and a SHA-256 digest of every file written. The
# list is compared with converter_outputs.txt, so that no change to the
# converter alters a byte, a file name, a status line or an exit code.
#   converter_outputs.sh VM-FITS VM-SIMOBS [EXPECTED]
# Without EXPECTED the list is printed; with it, a difference fails the test.
set -euo pipefail
vmfits=$1 simobs=$2 expected=${3:-}
# The scan number is read after the first "." of the whole path: the work
# folder must hold none.
work=$(mktemp -d "${TMPDIR:-/tmp}/vmfits_outputs_XXXXXX")
trap 'rm -rf "$work"' EXIT
case "$work" in *.*) echo "the work folder $work holds a dot; set TMPDIR to one without"; exit 1 ;; esac

mkdir -p "$work/bin" "$work/nocfg"
cp "$vmfits" "$work/bin/vm-fits"
cp "$vmfits" "$work/nocfg/vm-fits"
"$simobs" --out "$work/table" --cfg --channels 1 >/dev/null
cp "$work/table/vm-fits.cfg" "$work/bin/vm-fits.cfg"

# Hand-made edges, applied to a vm-simobs recording in folder $1.
edit_short_files() {  # n = 0 in channel 0, n = 1 in channel 1, one float and a bit in 2
  : >"$1/al0"; : >"$1/ar0"
  head -c 4 "$1/al1" >"$1/x" && mv "$1/x" "$1/al1"
  head -c 4 "$1/ar1" >"$1/x" && mv "$1/x" "$1/ar1"
  head -c 6 "$1/ar2" >"$1/x" && mv "$1/x" "$1/ar2"
}
put_floats() {  # FILE INDEX BYTES...: floats from INDEX on, as octal escapes
  local file=$1 at=$2
  shift 2
  printf "$(printf '%s' "$@")" | dd of="$file" bs=4 seek="$at" conv=notrunc status=none
}
NAN='\000\000\300\177' MINUS_NAN='\000\000\300\377' INF='\000\000\200\177'
MINUS_INF='\000\000\200\377' DENORMAL='\001\000\000\000' HUGE='\231\166\226\176'
edit_odd_values() {
  put_floats "$1/al0" 10 "$NAN"
  put_floats "$1/ar0" 3 "$MINUS_NAN" "$MINUS_NAN"
  put_floats "$1/al1" 0 "$INF"
  put_floats "$1/ar1" 7 "$MINUS_INF"
  put_floats "$1/al2" 0 "$HUGE"
  : >"$1/ar2"
  for i in $(seq 0 49); do put_floats "$1/ar2" "$i" "$DENORMAL"; done
}
random_bytes() {  # SEED COUNT
  local x=$1 i escapes=""
  for ((i = 0; i < $2; i++)); do
    x=$(((x * 1103515245 + 12345) & 0x7fffffff))
    escapes+=$(printf '\\%03o' $(((x >> 16) & 255)))
  done
  printf "$escapes"
}
put_random() { random_bytes "$4" "$3" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none; }
edit_random_fields() {  # FOLDER SEED: calibration, sampling, pointing fields
  put_random "$1/sun.05h" 126 132 "$2"
  put_random "$1/sun.05h" 322 128 "$(($2 + 1))"
  put_random "$1/sun.05h" 1276 18 "$(($2 + 2))"
  put_random "$1/sun.05h" 1414 64 "$(($2 + 3))"
}
edit_missing_ar() { rm -f "$1/ar0" "$1/ar5"; }
edit_missing_al() { rm -f "$1/al1"; }
edit_missing_marker() { rm -f "$1"/*.*p; }
edit_empty_marker() { : >"$1/sun.05p"; }
edit_missing_header() { rm -f "$1/sun.05h"; }
edit_many_markers() {  # 25 markers of every tag, some at the ends
  local escapes="" i
  for i in $(seq 1 25); do escapes+=$(printf '\\%03o\\%03o\\%03o\\%03o' $((i * 37 % 256)) $((i * 37 / 256)) $((i * 8 % 256)) 0); done
  printf "$escapes\001\000\070\000\377\377\010\000" >"$1/sun.05p"
}

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
  # shellcheck disable=SC2086
  "$simobs" --out "$rec" $options >/dev/null
  if [ -n "$edit" ]; then
    read -r -a edit_words <<<"$edit"
    "${edit_words[0]}" "$rec" "${edit_words[@]:1}"
  fi
  header=$(compgen -G "$rec/*.*h" || echo "$rec/sun.05h")
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
  sed "s|$work|WORK|g; s|^|$name status |" "$work/$name/err" >>"$report"
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
