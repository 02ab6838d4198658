#!/usr/bin/env bash
# scripts/setup.sh on a machine whose package mirror is half-way through a
# sync: apt-get, dpkg-query and dpkg are stand-ins that report nothing
# installed, fail every "apt-get update" on one index, and refuse the packages
# a case names. Each row: the packages refused, the exit code expected, a text
# expected on standard error, and whether the 32-bit reason file must exist.
set -uo pipefail
setup="$(cd "$(dirname "$0")/../.." && pwd)/scripts/setup.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

cat >"$work/apt-get" <<'STUB'
#!/usr/bin/env bash
echo "$*" >>"$FAKE_LOG"
case "$1" in
  update)
    echo "E: Failed to fetch http://127.0.0.1:9/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress?"
    echo "E: Some index files failed to download. They have been ignored, or old ones used instead."
    exit 100 ;;
  install)
    for p in "$@"; do
      for refused in $FAKE_REFUSE; do
        if [ "$p" = "$refused" ]; then
          echo "E: Unable to correct problems, you have held broken packages ($p)"
          exit 100
        fi
      done
    done ;;
esac
exit 0
STUB
printf '#!/bin/sh\nexit 1\n' >"$work/dpkg-query"
printf '#!/bin/sh\n[ "$1" = --print-foreign-architectures ] && echo i386\nexit 0\n' >"$work/dpkg"
chmod +x "$work/apt-get" "$work/dpkg-query" "$work/dpkg"

# refused | windows? | exit | text on standard error | reason file (yes/no)
rows=(
  "wine32:i386|--windows|0|32-bit Wine cannot be installed; its tests will be skipped: Unable to correct problems|yes"
  "|--windows|0|apt-get update still fails; going on with the lists apt has: Failed to fetch|no"
  "slurm-wlm|--windows|1|held broken packages (slurm-wlm)|no"
  "xdotool wine32:i386|--windows|1|the windows packages cannot be installed|yes"
  "libcfitsio-dev||1|the build packages cannot be installed|no"
)
for row in "${rows[@]}"; do
  IFS='|' read -r refuse windows want_code want_text want_report <<<"$row"
  report="$work/report.txt"
  # A reason left by an earlier run goes once 32-bit Wine installs.
  rm -f "$report"
  [ -n "$windows" ] && echo stale >"$report"
  : >"$work/calls"
  FAKE_LOG="$work/calls" FAKE_REFUSE="$refuse" VMFITS_APT_GET="$work/apt-get" \
    VMFITS_DPKG_QUERY="$work/dpkg-query" VMFITS_DPKG="$work/dpkg" VMFITS_APT_PAUSE=0 \
    VMFITS_SETUP_REPORT="$report" bash "$setup" $windows >"$work/out" 2>"$work/err" </dev/null
  code=$?
  problem=""
  [ "$code" = "$want_code" ] || problem="exit $code, not $want_code"
  grep -qF -- "$want_text" "$work/err" || problem="$problem; no \"$want_text\" on standard error"
  [ "$(grep -c '^update' "$work/calls")" = 3 ] || problem="$problem; apt-get update not tried 3 times"
  # Every group is tried, whichever failed before it.
  groups=$([ -n "$windows" ] && echo 4 || echo 2)
  tried=$(grep -c '^install' "$work/calls" | tr -d ' ')
  [ "$(grep '^install' "$work/calls" | awk '{print $NF}' | sort -u | wc -l)" = "$groups" ] ||
    problem="$problem; not every group of packages was tried ($tried installs)"
  if [ "$want_report" = yes ]; then
    grep -q '^apt-get install wine32:i386: .*held broken packages' "$report" 2>/dev/null ||
      problem="$problem; the reason file does not hold apt's message"
  elif [ -e "$report" ]; then
    problem="$problem; a reason file was left"
  fi
  if [ -n "$problem" ]; then
    echo "FAIL [refused: ${refuse:-nothing} $windows]: ${problem#; }"
    sed 's/^/  | /' "$work/err"
    failures=$((failures + 1))
  else
    echo "ok [refused: ${refuse:-nothing} $windows]"
  fi
done
[ "$failures" -eq 0 ]
