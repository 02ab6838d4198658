# Sourced by the tests that convert many recordings: the hand-made edges that
# are applied to a vm-simobs recording, and make_recording, which makes one.

# make_recording SIMOBS FOLDER OPTIONS [EDIT]: a vm-simobs recording in FOLDER
# made with OPTIONS (one string), then EDIT (a function below and its
# arguments after the folder). Prints the path of its header file.
make_recording() {
  local simobs=$1 rec=$2 options=$3 edit=${4:-} edit_words
  # shellcheck disable=SC2086
  "$simobs" --out "$rec" $options >/dev/null
  if [ -n "$edit" ]; then
    read -r -a edit_words <<<"$edit"
    "${edit_words[0]}" "$rec" "${edit_words[@]:1}"
  fi
  compgen -G "$rec/*.*h" || echo "$rec/sun.05h"
}

edit_short_files() {  # n = 0 in channel 0, n = 1 in channel 1, one float and a bit in 2
  : >"$1/al0"; : >"$1/ar0"
  head -c 4 "$1/al1" >"$1/x" && mv "$1/x" "$1/al1"
  head -c 4 "$1/ar1" >"$1/x" && mv "$1/x" "$1/ar1"
  head -c 6 "$1/ar2" >"$1/x" && mv "$1/x" "$1/ar2"
}
# put_floats FILE INDEX BYTES...: overwrites floats from INDEX on, each given
# as its four little-endian bytes in octal escapes.
put_floats() {
  local file=$1 at=$2
  shift 2
  printf "$(printf '%s' "$@")" | dd of="$file" bs=4 seek="$at" conv=notrunc status=none
}
NAN='\000\000\300\177' MINUS_NAN='\000\000\300\377' INF='\000\000\200\177'
MINUS_INF='\000\000\200\377' DENORMAL='\001\000\000\000' HUGE='\231\166\226\176'
MINUS_HUGE='\231\166\226\376'
edit_odd_values() {  # NaNs, infinities, denormals and huge values in the samples
  put_floats "$1/al0" 10 "$NAN"
  put_floats "$1/ar0" 3 "$MINUS_NAN" "$MINUS_NAN"
  put_floats "$1/al1" 0 "$INF"
  put_floats "$1/ar1" 7 "$MINUS_INF"
  put_floats "$1/al2" 0 "$HUGE" "$MINUS_HUGE"
  : >"$1/ar2"
  for i in $(seq 0 49); do put_floats "$1/ar2" "$i" "$DENORMAL"; done
  : >"$1/al3"
  for i in $(seq 0 49); do put_floats "$1/al3" "$i" "$MINUS_NAN"; done
}
# random_bytes SEED COUNT: COUNT bytes of a fixed pseudo-random sequence.
random_bytes() {
  local x=$1 i escapes=""
  for ((i = 0; i < $2; i++)); do
    x=$(((x * 1103515245 + 12345) & 0x7fffffff))
    escapes+=$(printf '\\%03o' $(((x >> 16) & 255)))
  done
  printf "$escapes"
}
# put_random FILE OFFSET COUNT SEED
put_random() { random_bytes "$4" "$3" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none; }
# Random calibration levels and indexes, sampling factors, angle P, PMC and
# the whole pointing block; the date, object, channels and frequencies stay.
edit_random_fields() {  # FOLDER SEED
  local seed=$2
  put_random "$1/sun.05h" 126 132 "$seed"
  put_random "$1/sun.05h" 322 128 "$((seed + 1))"
  put_random "$1/sun.05h" 1276 18 "$((seed + 2))"
  put_random "$1/sun.05h" 1414 64 "$((seed + 3))"
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
