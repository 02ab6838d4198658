#!/usr/bin/env bash
# The status dialog (template, DlgSetup, message pump, status line) and the
# arithmetic set-up, checked by dialog_test.exe under Wine on a virtual display;
# then the dialog served by the pump for real key strokes: typed text and
# Enter reach the status text, Escape gives the result 3. A screenshot of the
# dialog is left in the build's test-artefacts folder.
source "$(dirname "$0")/wine_common.sh"
need_wine
with_display "$@"
: "${VMFITS_DIALOG_TEST:?}"
trap stop_wine EXIT
new_prefix dialog
# No window manager here: Wine draws the frames itself and waits for none.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1

run_exe "$VMFITS_DIALOG_TEST" "$(winpath "$VMFITS_EXE")"
[ "$code" -eq 0 ] || fail "dialog_test.exe exit code $code"

output="$(artefact_dir)/status_dialog_keys.txt"
timeout 90 "$VMFITS_WINE_LOADER" "$VMFITS_DIALOG_TEST" --show >"$output.raw" </dev/null &
pid=$!
window=""
for _ in $(seq 1 120); do
  window=$(xdotool search --onlyvisible --name '^Convertor Velmor =>Trevalo$' 2>/dev/null | head -1 || true)
  [ -n "$window" ] && break
  sleep 0.5
done
[ -n "$window" ] || fail "the status dialog did not appear"
sleep 1  # let it paint
eval "$(xdotool getwindowgeometry --shell "$window")"
shot="$(artefact_dir)/status_dialog.png"
scrot -o -a "$X,$Y,$WIDTH,$HEIGHT" "$shot" || fail "no screenshot"
echo "screenshot of the status dialog: $shot"
xdotool windowfocus --sync "$window"
xdotool type --delay 10 'typed 42'
xdotool key Return
sleep 0.5
xdotool key Escape
set +e
wait "$pid"
code=$?
set -e
tr -d '\r' <"$output.raw" >"$output"
cat "$output"
grep -qx 'status text: \[typed 42\]' "$output" || fail "Enter did not take the input field's text"
grep -qx 'escape: yes' "$output" || fail "Escape did not give the result 3"
[ "$code" -eq 0 ] || fail "dialog_test.exe --show exit code $code"
echo "ok: typed text and Enter, Escape, through the message pump"
