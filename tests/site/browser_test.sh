#!/usr/bin/env bash
# The quick-look site of a simulated week in headless Chromium, every page
# checked by browser_check.py:   browser_test.sh TOOLS-FOLDER SCREENSHOT.png
# Seven days, one recording with warnings, one that fails (no marker file),
# and a copy of a day in a folder whose name, like its object name, is markup
# that would run as script unless escaped: both must show as text. Ends with
# 77 (skipped), naming why, where Chromium is not installed.
set -uo pipefail
tools=$1 screenshot=$2
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
chromium=${VMFITS_CHROMIUM:-/usr/bin/chromium}
if [ ! -x "$chromium" ]; then
  reason=$(cat "$root/build/setup/chromium-unavailable.txt" 2>/dev/null)
  echo "skipped: Chromium is not installed (${reason:-$chromium is missing; scripts/setup.sh installs it})"
  exit 77
fi

work=$(mktemp -d)
[ -n "${VMFITS_KEEP:-}" ] && echo "work: $work" || trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
run() { "$@" >"$work/log" 2>&1 || fail "$* (exit $?): $(tail -5 "$work/log")"; }
check=(/usr/bin/python3 "$here/browser_check.py")

# The checker itself: a picture that does not load fails a page.
mkdir -p "$work/broken"
printf '<!doctype html><title>t</title><img src="missing.png" alt="m">\n' >"$work/broken/index.html"
"${check[@]}" "$work/broken" >"$work/log" 2>&1; [ $? = 1 ] && grep -qF 'image not shown: missing.png' "$work/log" ||
  fail "a missing picture was not found: $(cat "$work/log")"

archive=$work/archive
run "$tools/vm-simobs" --out "$archive" --days 7 --cfg
run "$tools/vm-simobs" --out "$archive/2003-11-12" --defects --date 2003-11-12 --cfg
mkdir -p "$archive/2003-11-13"
head -c 1478 /dev/urandom >"$archive/2003-11-13/sun.13h"  # a header without its marker file
folder='"><img src=x onerror=window.__vmInjected=1>'
object='<script>window.__vmInjected=2</script>"><img src=x onerror="window.__vmInjected=3">'
cp -r "$archive/2003-11-07" "$archive/$folder"
# The object name: 88 bytes from byte 38 of the header, padded with zeros.
header=$(ls "$archive/$folder"/*h)
{ printf '%s' "$object"; head -c $((88 - ${#object})) /dev/zero; } |
  dd of="$header" bs=1 seek=38 count=88 conv=notrunc status=none || fail "writing the object name"
table=$(ls "$archive"/2003-11-05/vm-fits.cfg)

site=$work/site
"$tools/vm-batch" --cfg "$table" --catalog "$work/catalog.sqlite" --site "$site" "$archive" "$work/out" -j2 \
  >"$work/batch.log" 2>&1
code=$?
# 1: a recording failed (the garbage header), as it must.
[ "$code" = 1 ] && grep -qE '^failed +1$' "$work/batch.log" ||
  fail "vm-batch exit $code: $(tail -5 "$work/batch.log")"

# A recording's page: the first day's.
page=$(grep -lF '2003-11-05' "$site"/r/*/index.html | head -1)
[ -n "$page" ] || fail "no recording page names 2003-11-05"
# Its five pictures are there (the browser then sees that each loads).
[ "$(grep -o '<img ' "$page" | wc -l)" -ge 5 ] || fail "fewer than 5 pictures on $page"
"${check[@]}" "$site" \
  --expect-text 'r/*/index.html' "$object" \
  --expect-text 'r/*/index.html' "$folder" \
  --expect-text index.html "$object" \
  --expect-text index.html 'failed: marker file sun.13p is missing' \
  --screenshot "${page#"$site"/}" "$screenshot"
