#!/usr/bin/env bash
# Runs one Windows test program under the build's Wine loader in a fresh
# prefix of its own: wine_program.sh PREFIX-NAME PROGRAM [ARGS...]. Its exit
# code is the program's (77 when this machine cannot run the build's code).
source "$(dirname "$0")/wine_common.sh"
need_wine
name=$1
shift
trap stop_wine EXIT
new_prefix "$name"
set +e
"$VMFITS_WINE_LOADER" "$@" </dev/null
code=$?
set -e
exit "$code"
