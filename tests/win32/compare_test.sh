#!/usr/bin/env bash
# The same recordings converted by the Linux program and by vm-fits.exe under
# Wine: every output file must be the same byte for byte, and so must the exit
# codes. Recordings come from vm-simobs (several seeds, both repair rules) and
# from a few hand-made edges (empty and one-sample files, missing files).
source "$(dirname "$0")/wine_common.sh"
source "$(dirname "$0")/../support/recordings.sh"
need_wine
if [ -z "${VMFITS_LINUX_BUILD:-}" ]; then
  echo "skipped: configure with -DVMFITS_LINUX_BUILD=<Linux build folder> to compare"
  exit 77
fi
linux_exe="$VMFITS_LINUX_BUILD/vm-fits"
simobs="$VMFITS_LINUX_BUILD/tools/vm-simobs"
[ -x "$linux_exe" ] || fail "no Linux program at $linux_exe"
[ -x "$simobs" ] || fail "no vm-simobs at $simobs"

work=$(work_folder)
trap 'stop_wine; rm -rf "$work"' EXIT
new_prefix compare

# Both programs side by side with the calibration table vm-simobs writes.
"$simobs" --out "$work/table" --cfg --channels 1 >/dev/null
mkdir -p "$work/bin"
cp "$linux_exe" "$work/bin/vm-fits"
cp "$VMFITS_EXE" "$work/bin/vm-fits.exe"
cp "$work/table/vm-fits.cfg" "$work/bin/vm-fits.cfg"

# name | vm-simobs options | edit (function and arguments after the folder) |
# extra converter arguments (after header and output)
cases=(
  "seed1-two-sided|--seed 1||"
  "seed1-back|--seed 1||back"
  "seed2-defects|--seed 2 --defects||"
  "seed2-defects-back|--seed 2 --defects||0"
  "seed3-64ch|--seed 3 --channels 64||"
  "seed4-64ch-back|--seed 4 --channels 64 --samples 4000||2"
  "seed5-no-jumps|--seed 5 --no-jumps||"
  "seed6-longest|--seed 6 --channels 6 --samples 8191||"
  "seed7-too-long|--seed 7 --channels 4 --samples 9000||x"
  "seed8-other-date|--seed 8 --date 1999-12-31 --scan 123 --name abc --channels 8||"
  "seed9-five-args|--seed 9 --defects||a b c"
  "short-files|--seed 10 --channels 4 --samples 50|edit_short_files|"
  "short-files-back|--seed 10 --channels 4 --samples 50|edit_short_files|back"
  "odd-values|--seed 15 --channels 4 --samples 50|edit_odd_values|"
  "odd-values-back|--seed 15 --channels 4 --samples 50|edit_odd_values|back"
  "random-fields-1|--seed 16 --channels 12|edit_random_fields 1|"
  "random-fields-2|--seed 17 --channels 12|edit_random_fields 101|back"
  "random-fields-3|--seed 18 --channels 12|edit_random_fields 2024|"
  "missing-ar|--seed 11 --channels 8|edit_missing_ar|"
  "missing-al|--seed 11 --channels 8|edit_missing_al|"
  "seed19-many-markers|--seed 19 --channels 10|edit_many_markers|"
  "seed20-many-markers-back|--seed 20 --channels 10|edit_many_markers|back"
  "empty-marker|--seed 12 --channels 4|edit_empty_marker|back"
  "missing-marker|--seed 13 --channels 4|edit_missing_marker|"
  "missing-header|--seed 14 --channels 2|edit_missing_header|"
)

compared=0 files=0 differences=0
for entry in "${cases[@]}"; do
  IFS='|' read -r name options edit extra <<<"$entry"
  rec="$work/$name/rec"
  header=$(make_recording "$simobs" "$rec" "$options" "$edit")
  read -r -a extra_args <<<"$extra"

  set +e
  XDG_CONFIG_HOME="$work/xdg" "$work/bin/vm-fits" "$header" "$work/$name/linux" \
    "${extra_args[@]}" </dev/null 2>"$work/$name/linux.err"
  linux_code=$?
  timeout 60 "$VMFITS_WINE_LOADER" "$work/bin/vm-fits.exe" "$(winpath "$header")" "$(winpath "$work/$name/windows")" \
    "${extra_args[@]}" </dev/null
  windows_code=$?
  set -e

  problem=""
  [ "$linux_code" -eq "$windows_code" ] ||
    problem="exit codes: Linux $linux_code, Windows $windows_code"
  linux_files=$(cd "$work/$name/linux" 2>/dev/null && find . -type f | sort || true)
  windows_files=$(cd "$work/$name/windows" 2>/dev/null && find . -type f | sort || true)
  [ "$linux_files" = "$windows_files" ] ||
    problem="$problem; files differ: Linux [$(echo $linux_files)] Windows [$(echo $windows_files)]"
  for f in $linux_files; do
    [ -f "$work/$name/windows/$f" ] || continue
    files=$((files + 1))
    if ! cmp -s "$work/$name/linux/$f" "$work/$name/windows/$f"; then
      problem="$problem; $f differs: $(cmp "$work/$name/linux/$f" "$work/$name/windows/$f" 2>&1 | head -1)"
      echo "--- first differing bytes of $name/$f (offset, Linux, Windows, octal):"
      cmp -l "$work/$name/linux/$f" "$work/$name/windows/$f" | head -5 || true
    fi
  done
  count=$(printf '%s\n' $linux_files | grep -c . || true)
  if [ -n "$problem" ]; then
    differences=$((differences + 1))
    echo "DIFF $name: ${problem#; }"
  else
    echo "same $name: exit $linux_code, $count files"
  fi
  compared=$((compared + 1))
done

# The comparison must not pass on empty outputs: the ordinary runs write files.
[ "$files" -ge 40 ] || fail "only $files output files compared; the conversion wrote too little"
[ "$differences" -eq 0 ] || fail "$differences of $compared recordings differ"
echo "ok: $compared recordings, $files files, same bytes and exit codes"
