# Shared by the Wine test scripts: a fresh Wine prefix and path helpers.
set -euo pipefail
: "${VMFITS_EXE:?}" "${VMFITS_WIN_BUILD:?}"
export WINEDEBUG=-all

# new_prefix NAME: a fresh, initialised prefix under the build folder.
new_prefix() {
  export WINEPREFIX="$VMFITS_WIN_BUILD/wineprefix-$1"
  rm -rf "$WINEPREFIX"
  wineboot -i >/dev/null 2>&1 || true
  wineserver -w
}

# winpath UNIXPATH: the same file as Wine's Z: drive shows it.
winpath() { printf 'Z:%s' "$(printf '%s' "$1" | tr / '\\')"; }

# reg_value NAME: a value of HKCU\SOFTWARE\Trevalo, empty when missing.
reg_value() {
  wine reg query 'HKCU\SOFTWARE\Trevalo' /v "$1" 2>/dev/null | tr -d '\r' |
    awk -v n="$1" '$1 == n { sub(/^[ \t]*[^ \t]+[ \t]+REG_SZ[ \t]*/, ""); print; exit }'
}

fail() { echo "FAIL: $*" >&2; exit 1; }
