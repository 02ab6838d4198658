#!/usr/bin/env bash
# The status dialog (template, DlgSetup, message pump, status line) and the
# arithmetic set-up, checked by dialog_test.exe under Wine on a virtual display.
source "$(dirname "$0")/wine_common.sh"
with_display "$@"
: "${VMFITS_DIALOG_TEST:?}"
trap stop_wine EXIT
new_prefix dialog
wine reg add "HKCU\\Software\\Wine\\X11 Driver" /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
run_exe "$VMFITS_DIALOG_TEST" "$(winpath "$VMFITS_EXE")"
[ "$code" -eq 0 ] || fail "dialog_test.exe exit code $code"
