#!/usr/bin/env bash
# The Windows program run under Wine with arguments: exit codes, the output
# folder, and the two remembered folders in the registry after each run
# (HKCU\SOFTWARE\Trevalo: ConvertOpen = the header's folder, ConvertSave = the
# output folder as used, one trailing backslash removed).
source "$(dirname "$0")/wine_common.sh"
need_wine
work=$(work_folder)
trap 'stop_wine; rm -rf "$work"' EXIT
new_prefix run

install_converter "$work/bin"
exe="$work/bin/vm-fits.exe"
# A recording with nothing enabled: the run writes only the scan index.
mkdir -p "$work/obs" "$work/my obs"
for folder in "$work/obs" "$work/my obs"; do
  head -c 1478 /dev/zero >"$folder/sun.05h"
  : >"$folder/sun.05p"
done

# expect CODE OPEN SAVE: the last run's exit code and both registry values.
expect() {
  [ "$code" -eq "$1" ] || fail "$case: exit code $code, expected $1"
  local open save
  open=$(reg_value ConvertOpen)
  save=$(reg_value ConvertSave)
  [ "$open" = "$2" ] || fail "$case: ConvertOpen is '$open', expected '$2'"
  [ "$save" = "$3" ] || fail "$case: ConvertSave is '$save', expected '$3'"
  echo "ok $case: exit $code, ConvertOpen=$open ConvertSave=$save"
}

case="two arguments, trailing backslash removed"
run_exe "$exe" "$(winpath "$work/obs/sun.05h")" "$(winpath "$work/out")\\"
expect 1 "$(winpath "$work/obs")" "$(winpath "$work/out")"
[ -d "$work/out" ] || fail "$case: output folder not created"
compgen -G "$work/out/*.0hd" >/dev/null || fail "$case: no scan index in $work/out"

case="argument 2 replaces the remembered output folder; only one backslash removed"
run_exe "$exe" "$(winpath "$work/obs/sun.05h")" "$(winpath "$work/out2")\\\\"
expect 1 "$(winpath "$work/obs")" "$(winpath "$work/out2")\\"
[ -d "$work/out2" ] || fail "$case: output folder not created"

case="quoted argument with blanks after an empty quoted one"
run_exe "$exe" "" "$(winpath "$work/my obs/sun.05h")" "$(winpath "$work/out 3")"
expect 1 "$(winpath "$work/my obs")" "$(winpath "$work/out 3")"
compgen -G "$work/out 3/*.0hd" >/dev/null || fail "$case: no scan index"

case="bare header name: empty input folder stored"
(cd "$work/obs" && run_exe "$exe" sun.05h "$(winpath "$work/out4")" && echo "$code" >"$work/code")
code=$(cat "$work/code")
expect 1 "" "$(winpath "$work/out4")"
wine reg query 'HKCU\SOFTWARE\Trevalo' /v ConvertOpen 2>/dev/null | grep -q ConvertOpen ||
  fail "$case: ConvertOpen missing instead of empty"

case="output folder whose parent is missing: remembered all the same"
run_exe "$exe" "$(winpath "$work/obs/sun.05h")" "$(winpath "$work/no/such")" back
expect 2 "$(winpath "$work/obs")" "$(winpath "$work/no/such")"
[ ! -e "$work/no" ] || fail "$case: parent folder created"

case="header that cannot be opened: nothing written, nothing remembered"
run_exe "$exe" "$(winpath "$work/missing/sun.05h")" "$(winpath "$work/out5")"
expect 2 "$(winpath "$work/obs")" "$(winpath "$work/no/such")"
[ ! -e "$work/out5" ] || fail "$case: output folder created"
