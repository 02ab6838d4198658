#!/usr/bin/env bash
# The file-open dialog of vm-fits.exe under Wine on a virtual display:
#  - no arguments: the dialog appears in the remembered input folder; typing
#    the header path and Enter converts into the remembered output folder,
#    exit code 1, the same files as a run with arguments;
#  - Escape: exit code 0, no folder created, both registry values unchanged;
#  - one argument is ignored: the dialog appears all the same.
# A screenshot of the dialog is left in the build's test-artefacts folder.
source "$(dirname "$0")/wine_common.sh"
need_wine
with_display "$@"
work=$(work_folder)
trap 'stop_wine; rm -rf "$work"' EXIT
new_prefix opendialog
# No window manager here: Wine draws the frames itself and waits for none.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1

install_converter "$work/bin"
exe="$work/bin/vm-fits.exe"
mkdir -p "$work/obs"
cp "$VMFITS_SOURCE_DIR"/samples/sun-2003-11-05/{sun.05h,sun.05p,al*,ar*} "$work/obs/"
header=$(winpath "$work/obs/sun.05h")
reg_set ConvertOpen "$(winpath "$work/obs")"
reg_set ConvertSave "$(winpath "$work/out")"

# start_converter ARGS...: vm-fits.exe in the background, its pid in $pid.
start_converter() {
  timeout 120 "$VMFITS_WINE_LOADER" "$exe" "$@" </dev/null &
  pid=$!
}

# find_dialog: waits for the visible file-open window ("Open", the system's
# default title); its X window id in $dialog.
find_dialog() {
  dialog=""
  for _ in $(seq 1 120); do
    dialog=$(xdotool search --onlyvisible --name '^Open$' 2>/dev/null | head -1 || true)
    [ -n "$dialog" ] && break
    kill -0 "$pid" 2>/dev/null || fail "$case: vm-fits.exe ended without a dialog"
    sleep 0.5
  done
  [ -n "$dialog" ] || fail "$case: no file-open dialog after 60 s"
  sleep 1  # let it paint
  xdotool windowfocus --sync "$dialog"
}

# finish: waits for vm-fits.exe; its exit code in $code.
finish() {
  set +e
  wait "$pid"
  code=$?
  set -e
}

case="no arguments, header typed, Enter"
start_converter
find_dialog
eval "$(xdotool getwindowgeometry --shell "$dialog")"
shot="$(artefact_dir)/open_dialog.png"
scrot -o -a "$X,$Y,$WIDTH,$HEIGHT" "$shot" || fail "no screenshot"
echo "screenshot of the file-open dialog: $shot"
xdotool type --delay 10 "$header"
xdotool key Return
finish
[ "$code" -eq 1 ] || fail "$case: exit code $code, expected 1"
compgen -G "$work/out/s05b03_05z.0hd" >/dev/null ||
  fail "$case: no scan index in the remembered folder: [$(ls "$work/out" 2>&1)], ConvertOpen=$(reg_value ConvertOpen), ConvertSave=$(reg_value ConvertSave)"
compgen -G "$work/out/s05b03_05z.001" >/dev/null || fail "$case: no scan file in the remembered folder"
[ "$(reg_value ConvertOpen)" = "$(winpath "$work/obs")" ] || fail "$case: ConvertOpen $(reg_value ConvertOpen)"
[ "$(reg_value ConvertSave)" = "$(winpath "$work/out")" ] || fail "$case: ConvertSave $(reg_value ConvertSave)"
# The dialog run repairs as a run with two arguments does.
run_exe "$exe" "$header" "$(winpath "$work/out-args")"
[ "$code" -eq 1 ] || fail "run with arguments: exit code $code"
diff -r "$work/out" "$work/out-args" >/dev/null || fail "$case: output differs from the run with two arguments"
echo "ok $case: exit 1, $(ls "$work/out" | wc -l) files, the same as with arguments"

reg_set ConvertOpen "$(winpath "$work/obs")"
reg_set ConvertSave "$(winpath "$work/never")"
for arguments in 0 1; do
  case="$arguments argument(s), Escape"
  if [ "$arguments" -eq 0 ]; then start_converter; else start_converter "$header"; fi
  find_dialog
  xdotool key Escape
  finish
  [ "$code" -eq 0 ] || fail "$case: exit code $code, expected 0"
  [ ! -e "$work/never" ] || fail "$case: output folder created"
  [ "$(reg_value ConvertOpen)" = "$(winpath "$work/obs")" ] || fail "$case: ConvertOpen changed"
  [ "$(reg_value ConvertSave)" = "$(winpath "$work/never")" ] || fail "$case: ConvertSave changed"
  echo "ok $case: exit 0, nothing created, registry unchanged"
done

# The file-name buffer holds 126 characters and the terminator: a longer
# choice counts as cancelled.
long="$work/long/$(printf 'f%.0s' $(seq 1 200))"
long=${long:0:$((126 - 2 - 8))}  # "Z:" + folder + "\sun.05h" = 126 characters
mkdir -p "$long"
cp "$work/obs/sun.05h" "$long/sun.05h"; cp "$work/obs/sun.05p" "$long/sun.05p"
cp "$work/obs/sun.05h" "$long/sunx.05h"; cp "$work/obs/sun.05p" "$long/sunx.05p"
for name in sunx.05h sun.05h; do
  typed=$(winpath "$long/$name")
  case="a chosen path of ${#typed} characters"
  start_converter
  find_dialog
  xdotool type --delay 5 "$typed"
  xdotool key Return
  finish
  if [ ${#typed} -gt 126 ]; then
    [ "$code" -eq 0 ] || fail "$case: exit code $code, expected 0"
    [ ! -e "$work/never" ] || fail "$case: output folder created"
    [ "$(reg_value ConvertOpen)" = "$(winpath "$work/obs")" ] || fail "$case: ConvertOpen changed"
  else
    [ "$code" -eq 1 ] || fail "$case: exit code $code, expected 1"
    [ -d "$work/never" ] || fail "$case: output folder not created"
    [ "$(reg_value ConvertOpen)" = "$(winpath "$long")" ] || fail "$case: ConvertOpen $(reg_value ConvertOpen)"
  fi
  echo "ok $case: exit $code"
done
