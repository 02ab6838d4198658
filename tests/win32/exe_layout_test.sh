#!/usr/bin/env bash
# The shape of vm-fits.exe, checked without running it (so on every machine):
# a Windows GUI program of the build's width (32-bit i386 or 64-bit x86-64)
# that exports DlgSetup under its plain name, carries the DLGCONVTEMPL
# template byte for byte and its icon, and needs only system libraries (the
# C++ runtime is linked in; ctl3d32 is loaded at run time by the 32-bit one).
source "$(dirname "$0")/wine_common.sh"
if [ "$VMFITS_WINDOWS_BITS" = 64 ]; then
  objdump=x86_64-w64-mingw32-objdump format=pei-x86-64
else
  objdump=i686-w64-mingw32-objdump format=pei-i386
fi
headers=$("$objdump" -p "$VMFITS_EXE")

grep -q "file format $format\$" <<<"$headers" ||
  fail "not a $VMFITS_WINDOWS_BITS-bit PE executable: $(grep 'file format' <<<"$headers")"
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

# The resources, read from the file's resource directory.
checker="$(dirname "$0")/pe_resources.py"
/usr/bin/python3 "$checker" "$VMFITS_EXE" || fail "resources of $VMFITS_EXE"
# The checker itself tells a changed template apart: one letter of the caption
# (stored as UTF-16) altered in a copy must be found.
copy=$(mktemp)
trap 'rm -f "$copy"' EXIT
LC_ALL=C sed 's/V\x00e\x00l\x00m\x00o\x00r/V\x00e\x00l\x00m\x00o\x00R/' "$VMFITS_EXE" >"$copy"
! cmp -s "$VMFITS_EXE" "$copy" || fail "the caption was not found to alter in a copy"
if /usr/bin/python3 "$checker" "$copy" >/dev/null; then fail "a changed template passed the check"; fi
echo "ok: $format GUI program, exports DlgSetup, imports $dlls, DLGCONVTEMPL as designed"
