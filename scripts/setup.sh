#!/usr/bin/env bash
# Installs what building and testing vm-fits needs on a Debian machine, when
# missing. Usage: scripts/setup.sh [--windows]  (--windows adds the MinGW
# cross compiler, Wine and the X tools for the Windows tests).
set -euo pipefail

want_windows=0
[ "${1:-}" = "--windows" ] && want_windows=1

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
export DEBIAN_FRONTEND=noninteractive

missing=()
need() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed' || missing+=("$1"); }

need cmake; need g++; need make; need libgtest-dev
# The command line of vm-batch (header-only).
need libcli11-dev
if [ "$want_windows" -eq 1 ]; then
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    "${sudo_cmd[@]}" dpkg --add-architecture i386
    missing+=(wine32:i386)
  fi
  need g++-mingw-w64-i686; need wine; need wine32:i386
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
