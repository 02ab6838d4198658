#!/usr/bin/env bash
# The shape of vm-fits.exe: a 32-bit Windows GUI program that exports DlgSetup
# under its plain name, carries DLGCONVTEMPL and its icon, and needs only
# system libraries (the C++ runtime is linked in; ctl3d32 is loaded at run time).
source "$(dirname "$0")/wine_common.sh"
objdump=i686-w64-mingw32-objdump
headers=$("$objdump" -p "$VMFITS_EXE")

grep -q 'file format pei-i386' <<<"$headers" || fail "not a 32-bit PE executable"
grep -Eq '^Subsystem[[:space:]]+0*2[[:space:]]+\(Windows GUI\)' <<<"$headers" ||
  fail "subsystem is not Windows GUI: $(grep '^Subsystem' <<<"$headers")"

exports=$(sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$headers" |
  sed -n 's/^[[:space:]]*\[[[:space:]]*[0-9]*\][[:space:]]*//p')
[ "$exports" = "DlgSetup" ] || fail "exports are '$exports', expected DlgSetup alone"

dlls=$(sed -n 's/^[[:space:]]*DLL Name:[[:space:]]*//p' <<<"$headers" | tr 'a-z' 'A-Z' | sort -u | tr '\n' ' ')
for dll in $dlls; do
  case "$dll" in
    KERNEL32.DLL | USER32.DLL | ADVAPI32.DLL | COMDLG32.DLL | MSVCRT.DLL) ;;
    *) fail "imports $dll (all imports: $dlls)" ;;
  esac
done

# Resource names are stored as UTF-16 texts.
strings -e l "$VMFITS_EXE" | grep -qx DLGCONVTEMPL || fail "no resource named DLGCONVTEMPL"
resources=$("$objdump" -h "$VMFITS_EXE" | awk '$2 == ".rsrc"')
[ -n "$resources" ] || fail "no resource section"
echo "ok: PE32 GUI, exports DlgSetup, imports $dlls, resource DLGCONVTEMPL"
