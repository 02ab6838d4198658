#!/usr/bin/env bash
# Installs what building and testing vm-fits needs on a Debian machine, when
# missing. Usage: scripts/setup.sh [--windows]  (--windows adds the MinGW
# cross compilers for 32 and 64 bits, 32- and 64-bit Wine and the X tools for
# the Windows tests).
set -euo pipefail

want_windows=0
[ "${1:-}" = "--windows" ] && want_windows=1

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
export DEBIAN_FRONTEND=noninteractive

missing=()
need() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed' || missing+=("$1"); }

need cmake; need g++; need make; need libgtest-dev
# vm-scan: FITS files through CFITSIO, its command line with CLI11 (as vm-batch's); its tests
# check the FITS files with fitsverify and astropy.
need pkg-config; need libcfitsio-dev; need libcli11-dev; need fitsverify; need python3-astropy
# The JSON of vm-scan's reports and vm-batch's manifest.
need nlohmann-json3-dev
# vm-scan's pictures: PLplot with its cairo devices (PNG and SVG), the font its
# text is drawn with; its tests decode the PNG files with zlib.
need libplplot-dev; need plplot-driver-cairo; need fonts-dejavu-core; need zlib1g-dev
# vm-simobs's truth files and vm-scan's tables of sources: JSON with nlohmann-json.
need nlohmann-json3-dev
# The micro-benchmarks (bench/), GNU time and valgrind for bench/run; the
# end-to-end tests also run under valgrind.
need libbenchmark-dev; need time; need valgrind
# Robustness: the fuzz targets are built with clang and libFuzzer.
need clang-14; need libclang-rt-14-dev
# vm-batch on a cluster: the tests start a single-node Slurm cluster (munge for
# its authentication, slurmdbd on a MariaDB database for sacct) and run GNU parallel.
need slurm-wlm; need munge; need slurmdbd; need mariadb-server; need parallel; need python3
if [ "$want_windows" -eq 1 ]; then
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    "${sudo_cmd[@]}" dpkg --add-architecture i386
    missing+=(wine32:i386)
  fi
  # Both Windows programs: the 32-bit one runs under the 32-bit Wine loader
  # (only where this machine executes 32-bit x86 code), the 64-bit one under
  # wine64 (everywhere). The static checks read the programs with python3.
  need g++-mingw-w64-i686; need g++-mingw-w64-x86-64
  need wine; need wine32:i386; need wine64; need python3
  # A virtual display for the dialog tests (xvfb-run needs xauth), key
  # strokes into it, and screenshots of it.
  need xvfb; need xauth; need xdotool; need scrot
fi

if [ "${#missing[@]}" -gt 0 ]; then
  echo "installing: ${missing[*]}"
  "${sudo_cmd[@]}" apt-get update -qq
  # Wine is installed with what it recommends: the X11 libraries and fonts
  # that its dialogs draw with.
  recommends=--no-install-recommends
  [ "$want_windows" -eq 1 ] && recommends=--install-recommends
  "${sudo_cmd[@]}" apt-get install -y -qq "$recommends" "${missing[@]}" </dev/null
fi
