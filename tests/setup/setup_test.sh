#!/usr/bin/env bash
# scripts/setup.sh on a machine whose package mirror is half-way through a
# sync: stand-ins for apt-get, dpkg-query and dpkg report nothing installed,
# fail every "apt-get update" on one index and refuse the packages a row names.
set -uo pipefail
setup="$(cd "$(dirname "$0")/../.." && pwd)/scripts/setup.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cat >"$work/apt-get" <<'STUB'
#!/usr/bin/env bash
echo "$*" >>"$FAKE_LOG"
if [ "$1" = update ]; then
  echo "E: Failed to fetch http://127.0.0.1:9/dists/bookworm/main/binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress?"
  exit 100
fi
for p in "$@"; do
  case " $FAKE_REFUSE " in *" $p "*) echo "E: Unable to correct problems, you have held broken packages ($p)"; exit 100 ;; esac
done
STUB
printf '#!/bin/sh\nexit 1\n' >"$work/dpkg-query" && printf '#!/bin/sh\necho i386\n' >"$work/dpkg"
chmod +x "$work/apt-get" "$work/dpkg-query" "$work/dpkg"

failures=0
# packages refused | option | exit code | text on standard error | 32-bit reason file left (yes/no)
for row in \
  "wine32:i386|--windows|0|32-bit Wine cannot be installed; its tests will be skipped: Unable to correct problems|yes" \
  "|--windows|0|apt-get update still fails; going on with the lists apt has: Failed to fetch|no" \
  "slurm-wlm|--windows|1|held broken packages (slurm-wlm)|no" \
  "xdotool wine32:i386|--windows|1|the windows packages cannot be installed|yes" \
  "libcfitsio-dev||1|the build packages cannot be installed|no" \
  "python3-sunpy||0|SunPy cannot be installed; its tests will be skipped: Unable to correct problems|no" \
  "chromium||0|Chromium cannot be installed; its tests will be skipped: Unable to correct problems|no"; do
  IFS='|' read -r refuse option want_code want_text want_report <<<"$row"
  report="$work/report.txt" problem=""
  rm -f "$report" "$work/calls" "$work/sunpy-unavailable.txt" "$work/chromium-unavailable.txt"
  [ -n "$option" ] && echo stale >"$report"  # a reason left by an earlier run goes once 32-bit Wine installs
  FAKE_LOG="$work/calls" FAKE_REFUSE="$refuse" VMFITS_APT_GET="$work/apt-get" VMFITS_DPKG_QUERY="$work/dpkg-query" \
    VMFITS_DPKG="$work/dpkg" VMFITS_APT_PAUSE=0 VMFITS_SETUP_REPORT="$report" \
    bash "$setup" $option >/dev/null 2>"$work/err" </dev/null
  code=$?
  [ "$code" = "$want_code" ] || problem="exit $code, not $want_code"
  grep -qF -- "$want_text" "$work/err" || problem="$problem; no \"$want_text\""
  [ "$(grep -c '^update' "$work/calls")" = 3 ] || problem="$problem; apt-get update not tried 3 times"
  # Every group is tried (its last package names it), whichever failed before.
  groups=$(grep '^install' "$work/calls" | awk '{print $NF}' | sort -u | wc -l)
  [ "$groups" = "$([ -n "$option" ] && echo 6 || echo 4)" ] || problem="$problem; $groups groups tried"
  if [ "$want_report" = yes ]; then
    grep -q '^apt-get install wine32:i386: .*held broken packages' "$report" || problem="$problem; no reason file"
  elif [ -e "$report" ]; then
    problem="$problem; a reason file was left"
  fi
  # SunPy's and Chromium's reasons lie beside the 32-bit one, each only when
  # its group was refused.
  for optional in sunpy:python3-sunpy chromium:chromium; do
    name=${optional%%:*} first=${optional#*:}
    case " $refuse " in
      *" $first "*) grep -q "^apt-get install $first.*held broken packages" "$work/$name-unavailable.txt" ||
        problem="$problem; no $name reason file" ;;
      *) [ ! -e "$work/$name-unavailable.txt" ] || problem="$problem; a $name reason file was left" ;;
    esac
  done
  [ -z "$problem" ] || { echo "FAIL [${refuse:-nothing} refused $option]: ${problem#; }"; cat "$work/err"; failures=$((failures + 1)); }
done
[ "$failures" -eq 0 ] && echo "ok: 7 set-ups against a half-synced mirror"
