# Shared by the Wine test scripts: the Wine loader of the build under test, a
# fresh Wine prefix, a virtual display, the converter beside its calibration
# table, path and registry helpers.
#
# Each Windows build names its own program and loader:
#   VMFITS_WINDOWS_BITS  32 or 64
#   VMFITS_WINE_LOADER   /usr/lib/wine/wine (32-bit) or /usr/lib/wine/wine64
#   VMFITS_EXE           the vm-fits.exe under test
# VMFITS_IA32_PROBE, when set, is the program tried instead of the 32-bit
# loader to find out whether this machine runs 32-bit x86 code.
# VMFITS_WINE32_UNAVAILABLE, when not empty, is why scripts/setup.sh could not
# install 32-bit Wine (apt's message).
set -euo pipefail
: "${VMFITS_EXE:?}" "${VMFITS_WIN_BUILD:?}" "${VMFITS_WINDOWS_BITS:?}" "${VMFITS_WINE_LOADER:?}"
export WINEDEBUG=-all

fail() { echo "FAIL: $*" >&2; exit 1; }


# need_wine: call first in every script that runs a Windows program. A
# 32-bit build's runtime tests are skipped (exit 77) on a machine that cannot
# execute 32-bit x86 code, found out by starting the 32-bit loader, and where
# 32-bit Wine could not be installed (the loader missing, apt's reason given);
# a loader missing for any other reason is a failure.
need_wine() {
  if [ "$VMFITS_WINDOWS_BITS" = 32 ]; then
    local probe=${VMFITS_IA32_PROBE:-$VMFITS_WINE_LOADER} said
    if [ ! -e "$probe" ] && [ -n "${VMFITS_WINE32_UNAVAILABLE:-}" ]; then
      echo "skipped: 32-bit Wine could not be installed ($VMFITS_WINE32_UNAVAILABLE)"
      exit 77
    fi
    [ -e "$probe" ] || fail "no 32-bit Wine loader at $probe (scripts/setup.sh --windows installs it)"
    if ! said=$("$probe" --version 2>&1 </dev/null); then
      said=$(printf '%s\n' "$said" | head -n 1)
      echo "skipped: this machine cannot run 32-bit x86 programs ($probe --version: ${said##*: })"
      exit 77
    fi
  else
    [ -x "$VMFITS_WINE_LOADER" ] ||
      fail "no 64-bit Wine loader at $VMFITS_WINE_LOADER (scripts/setup.sh --windows installs wine64)"
    # The loader that Wine starts for further processes of the prefix.
    export WINELOADER=$VMFITS_WINE_LOADER
  fi
}

# wine ARGS...: the build's own loader (never the /usr/bin/wine front end,
# which picks the 32-bit loader whenever it is installed).
wine() { "$VMFITS_WINE_LOADER" "$@"; }

# with_display "$@": runs the calling script again under a virtual X server of
# its own (never on the user's display); call it before anything else. The
# 32- and 64-bit builds look for a free server number from 132 and from 164,
# so that their tests can run at the same time without taking the same one.
with_display() {
  if [ -z "${VMFITS_UNDER_XVFB:-}" ]; then
    export VMFITS_UNDER_XVFB=1
    exec xvfb-run -a -n "$((100 + ${VMFITS_WINDOWS_BITS:-32}))" -s '-screen 0 1024x768x24 -nolisten tcp' \
      bash "$0" "$@"
  fi
}

# new_prefix NAME: a fresh, initialised prefix under the build folder, with
# one Wine server kept running for all the script's runs (each start is then
# quick). Call stop_wine when the script ends.
new_prefix() {
  export WINEPREFIX="$VMFITS_WIN_BUILD/wineprefix-$1"
  rm -rf "$WINEPREFIX"
  # No .NET or HTML engine: nothing to install, nothing to ask.
  WINEDLLOVERRIDES="mscoree,mshtml=" wine wineboot -i >/dev/null 2>&1 || true
  wineserver -w
  wineserver -p
}

# stop_wine: ends Wine in the prefix and removes the prefix (over 500 MB).
stop_wine() {
  if [ -n "${WINEPREFIX:-}" ]; then
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w >/dev/null 2>&1 || true
    rm -rf "$WINEPREFIX"
  fi
}

# work_folder: a fresh temporary folder. Its name holds no dot: the scan
# number is read after the first dot of the header's whole path.
work_folder() { mktemp -d "${TMPDIR:-/tmp}/vmfits_wine_XXXXXX"; }

# winpath UNIXPATH: the same file as Wine's Z: drive shows it.
winpath() { printf 'Z:%s' "$(printf '%s' "$1" | tr / '\\')"; }

# install_converter FOLDER: copies vm-fits.exe with the sample calibration table
# vm-fits.cfg beside it into FOLDER (the table is looked for there).
install_converter() {
  mkdir -p "$1"
  cp "$VMFITS_EXE" "$1/vm-fits.exe"
  cp "${VMFITS_SOURCE_DIR:?}/samples/sun-2003-11-05/vm-fits.cfg" "$1/vm-fits.cfg"
}

# run_exe EXE ARGS...: runs a Windows program under Wine with no standard
# input and sets $code to its exit code (124 when it ran for over a minute:
# a dialog that nobody answers, for instance).
run_exe() {
  set +e
  timeout 60 "$VMFITS_WINE_LOADER" "$@" </dev/null
  code=$?
  set -e
}

# reg_value NAME: a value of HKCU\SOFTWARE\Trevalo, empty when missing.
reg_value() {
  wine reg query 'HKCU\SOFTWARE\Trevalo' /v "$1" 2>/dev/null | tr -d '\r' |
    awk -v n="$1" '$1 == n { sub(/^[ \t]*[^ \t]+[ \t]+REG_SZ[ \t]*/, ""); print; exit }'
}

# reg_set NAME TEXT: stores TEXT as a REG_SZ value of HKCU\SOFTWARE\Trevalo.
reg_set() {
  wine reg add 'HKCU\SOFTWARE\Trevalo' /v "$1" /t REG_SZ /d "$2" /f >/dev/null 2>&1
}

# artefact_dir: the folder for files the tests leave to look at.
artefact_dir() { mkdir -p "$VMFITS_WIN_BUILD/test-artefacts"; printf '%s' "$VMFITS_WIN_BUILD/test-artefacts"; }

