#!/usr/bin/env bash
# Installs what building and testing vm-fits needs on a Debian machine, when
# missing. Usage: scripts/setup.sh [--windows]  (--windows adds the MinGW
# cross compilers for 32 and 64 bits, 32- and 64-bit Wine and the X tools for
# the Windows tests).
#
# A package mirror can be half-way through a sync: an index that fails to
# download, or i386 packages that lag behind the amd64 ones. So the package
# lists are fetched again a few times, and an index that still fails is only a
# warning; the packages are installed in groups, each on its own (tried again
# after a failed download):
#   build      building and the Linux tests
#   cluster    the cluster tests (Slurm, munge, MariaDB, GNU parallel)
#   windows    both cross compilers, 64-bit Wine, the X tools (--windows)
#   wine32     32-bit Wine (--windows)
#   sunpy      SunPy and pandas, for the test that loads the daily flux series
#   chromium   headless Chromium, for the test that opens the quick-look site
# Every group but wine32, sunpy and chromium must install, or this script fails with
# apt's own message. When wine32 cannot be installed the 32-bit Wine tests are
# skipped: apt's reason, shortened to one line, is written to the file
# $VMFITS_SETUP_REPORT (build/setup/wine32-unavailable.txt by default), which
# scripts/test.sh hands to the 32-bit build; likewise sunpy's reason goes to
# sunpy-unavailable.txt beside it, which the SunPy test reads when it skips,
# and Chromium's to chromium-unavailable.txt, which the site's browser test reads.
# Each file is removed once its group is installed.
#
# For the tests of this script: VMFITS_APT_GET, VMFITS_DPKG_QUERY and
# VMFITS_DPKG name stand-ins for apt-get, dpkg-query and dpkg;
# VMFITS_APT_PAUSE is the pause between tries in seconds (15).
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
want_windows=0
case "${1:-}" in
  --windows) want_windows=1 ;;
  "") ;;
  -h | --help) sed -n '2,5p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
  *) echo "setup.sh: unknown option $1 (usage: scripts/setup.sh [--windows])" >&2; exit 2 ;;
esac

apt_get=${VMFITS_APT_GET:-apt-get}
dpkg_query=${VMFITS_DPKG_QUERY:-dpkg-query}
dpkg_cmd=${VMFITS_DPKG:-dpkg}
pause=${VMFITS_APT_PAUSE:-15}
report=${VMFITS_SETUP_REPORT:-$root/build/setup/wine32-unavailable.txt}
declare -A reports=([wine32]="$report" [sunpy]="$(dirname "$report")/sunpy-unavailable.txt"
  [chromium]="$(dirname "$report")/chromium-unavailable.txt")
declare -A titles=([wine32]="32-bit Wine" [sunpy]="SunPy" [chromium]="Chromium")
tries=3

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
export DEBIAN_FRONTEND=noninteractive

# missing PACKAGES...: those of PACKAGES that are not installed, one a line.
missing() {
  local p
  for p in "$@"; do
    "$dpkg_query" -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || echo "$p"
  done
}

# Building and the Linux tests. vm-scan: FITS files through CFITSIO, its
# command line with CLI11 (as vm-batch's); its tests check the FITS files with
# fitsverify and astropy. The JSON of vm-scan's reports, vm-batch's manifest
# and vm-simobs's truth files: nlohmann-json. vm-scan's pictures: PLplot with
# its cairo devices (PNG and SVG) and the font its text is drawn with; its
# tests decode the PNG files with zlib. The calibration's least squares: Eigen
# (header-only). The micro-benchmarks (bench/), GNU time and valgrind for
# bench/run; the end-to-end tests also run under valgrind.
# The fuzz targets are built with clang and libFuzzer. The Python module
# vmfits: pybind11 for Debian's python3 (its headers in python3-dev), numpy
# and astropy, its tests with pytest, docs/python.md's pictures with matplotlib.
group_build=(cmake g++ make libgtest-dev pkg-config libcfitsio-dev libcli11-dev fitsverify
  python3 python3-astropy nlohmann-json3-dev libplplot-dev plplot-driver-cairo fonts-dejavu-core
  zlib1g-dev libeigen3-dev libbenchmark-dev time valgrind clang-14 libclang-rt-14-dev
  python3-dev pybind11-dev python3-numpy python3-pytest python3-matplotlib libsqlite3-dev)
# vm-batch on a cluster: the tests start a single-node Slurm cluster (munge for
# its authentication, slurmdbd on a MariaDB database for sacct) and run GNU parallel.
group_cluster=(slurm-wlm munge slurmdbd mariadb-server parallel)
# Both Windows programs are cross-built; the 64-bit one runs under wine64
# (everywhere), and the static checks read both programs with python3. A
# virtual display for the dialog tests (xvfb-run needs xauth), key strokes
# into it, and screenshots of it.
group_windows=(g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine64 python3 xvfb xauth xdotool scrot)
# The 32-bit program runs under the 32-bit Wine loader, only where this
# machine executes 32-bit x86 code; its packages come from the i386 archive.
group_wine32=(wine32:i386)
# The daily flux series as a SunPy TimeSeries (Debian's sunpy needs h5netcdf
# for its time series, without depending on it).
group_sunpy=(python3-sunpy python3-h5netcdf python3-pandas)
# The quick-look site opened in a headless browser (/usr/bin/chromium), as a
# reader would see it.
group_chromium=(chromium)

groups=(build cluster sunpy chromium)
[ "$want_windows" -eq 1 ] && groups+=(windows wine32)

declare -A todo
any=0
for g in "${groups[@]}"; do
  declare -n list="group_$g"
  todo[$g]=$(missing "${list[@]}" | tr '\n' ' ')
  [ -n "${todo[$g]// /}" ] && any=1
  unset -n list
done
if [ "$want_windows" -eq 1 ] && [ -z "${todo[wine32]// /}" ]; then rm -f "$report"; fi
for g in sunpy chromium; do [ -z "${todo[$g]// /}" ] && rm -f "${reports[$g]}"; done
[ "$any" -eq 1 ] || exit 0

# apt-get's error lines of a failed command and the first dependency it
# could not meet, on one line of at most 300 characters.
short_reason() {
  local errors depends
  errors=$(grep -E '^(E|Err):|^W: Failed to fetch' "$1" | sed -E 's/^(E|Err|W): *//' | paste -sd ' ' -)
  depends=$(grep -m 1 -E ' (Depends|PreDepends): .* but ' "$1" | sed -E 's/^ +//; s/ +/ /g')
  [ -n "$depends" ] && errors="$errors (first unmet: $depends)"
  printf '%s\n' "$errors" | cut -c1-300
}

log=$(mktemp)
trap 'rm -f "$log"' EXIT

if [ "$want_windows" -eq 1 ] && [ -n "${todo[wine32]// /}" ] &&
  ! "$dpkg_cmd" --print-foreign-architectures 2>/dev/null | grep -qx i386; then
  "${sudo_cmd[@]}" "$dpkg_cmd" --add-architecture i386
fi

# The package lists, fetched again after a pause while any index fails.
for try in $(seq 1 "$tries"); do
  if "${sudo_cmd[@]}" "$apt_get" update -qq >"$log" 2>&1; then
    # A source that cannot be reached is only apt's warning.
    grep -q '^W: Failed to fetch' "$log" &&
      echo "setup: warning: some package lists could not be fetched: $(short_reason "$log")" >&2
    break
  fi
  if [ "$try" -lt "$tries" ]; then
    echo "setup: apt-get update failed (try $try of $tries), again in ${pause}s: $(short_reason "$log")" >&2
    sleep "$pause"
  else
    echo "setup: warning: apt-get update still fails; going on with the lists apt has: $(short_reason "$log")" >&2
  fi
done

# Wine is installed with what it recommends: the X11 libraries and fonts
# that its dialogs draw with.
recommends=--no-install-recommends
[ "$want_windows" -eq 1 ] && recommends=--install-recommends

status=0
for g in "${groups[@]}"; do
  read -r -a packages <<<"${todo[$g]}"
  [ "${#packages[@]}" -gt 0 ] || continue
  echo "installing ($g): ${packages[*]}"
  ok=0
  for try in $(seq 1 "$tries"); do
    if "${sudo_cmd[@]}" "$apt_get" install -y -q "$recommends" "${packages[@]}" </dev/null >"$log" 2>&1; then
      ok=1
      break
    fi
    # Only a download that failed is worth another try; what apt cannot
    # resolve stays so until the mirror has synced.
    grep -qE 'Failed to fetch|Unable to fetch|Could not connect|Temporary failure' "$log" || break
    [ "$try" -lt "$tries" ] && sleep "$pause"
  done
  if [ "$ok" -eq 1 ]; then
    [ -n "${reports[$g]:-}" ] && rm -f "${reports[$g]}"
    continue
  fi
  if [ -n "${reports[$g]:-}" ]; then
    reason=$(short_reason "$log")
    mkdir -p "$(dirname "${reports[$g]}")"
    printf '%s\n' "apt-get install ${packages[*]}: ${reason:-failed}" >"${reports[$g]}"
    echo "setup: warning: ${titles[$g]} cannot be installed; its tests will be skipped: ${reason:-apt-get failed}" >&2
  else
    cat "$log" >&2
    echo "setup: the $g packages cannot be installed (${packages[*]})" >&2
    status=1
  fi
done
exit "$status"
