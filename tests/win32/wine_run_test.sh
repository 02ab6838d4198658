#!/usr/bin/env bash
# The Windows program run under Wine with two arguments: exit code 1, output
# folder created, both folders remembered in the Wine registry.
source "$(dirname "$0")/wine_common.sh"
new_prefix run
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/obs"
head -c 1478 /dev/zero > "$work/obs/sun.05h"
head -c 0 /dev/zero > "$work/obs/sun.05p"

set +e
wine "$VMFITS_EXE" "$(winpath "$work/obs/sun.05h")" "$(winpath "$work/out")\\"
code=$?
set -e
wineserver -w
[ "$code" -eq 1 ] || fail "exit code $code, expected 1"
[ -d "$work/out" ] || fail "output folder not created"
open=$(reg_value ConvertOpen)
save=$(reg_value ConvertSave)
[ "$open" = "$(winpath "$work/obs")" ] || fail "ConvertOpen is '$open'"
[ "$save" = "$(winpath "$work/out")" ] || fail "ConvertSave is '$save' (trailing backslash kept?)"
echo "ok: exit 1, ConvertOpen=$open ConvertSave=$save"
