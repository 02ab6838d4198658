#!/usr/bin/env bash
# The quick-look site of a simulated week, opened in headless Chromium as a
# reader would: every page reachable from index.html, with its links,
# pictures and console checked by browser_check.py.
#   browser_test.sh TOOLS-FOLDER SCREENSHOT.png
# The archive holds seven days of vm-simobs, one recording with warnings
# (--defects), one that fails (a header of garbage without its marker file),
# and a copy of a day in a folder whose name, like its object name, is markup
# that would run as script if the site did not escape it: the names must show
# as text on the recording's page, and as the tooltip of its link in the
# calendar, which also shows why the failed recording failed. SCREENSHOT.png gets a recording's
# page (with its sources), whole, 1280 pixels wide.
# Ends with 77 (skipped), naming why, where Chromium is not installed.
set -uo pipefail
tools=$1 screenshot=$2
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
chromium=${VMFITS_CHROMIUM:-/usr/bin/chromium}
if [ ! -x "$chromium" ]; then
  unavailable=$root/build/setup/chromium-unavailable.txt
  if [ -s "$unavailable" ]; then
    echo "skipped: Chromium cannot be installed ($(cat "$unavailable"))"
  else
    echo "skipped: Chromium is not installed ($chromium; scripts/setup.sh installs it)"
  fi
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
"${check[@]}" "$work/broken" >"$work/log" 2>&1
code=$?
[ "$code" = 1 ] && grep -qF 'index.html: image not shown: missing.png' "$work/log" ||
  fail "a missing picture was not found (exit $code): $(cat "$work/log")"

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
/usr/bin/python3 - "$header" "$object" <<'PY' || fail "writing the object name"
import sys
path, name = sys.argv[1], sys.argv[2].encode()
assert len(name) <= 88
image = bytearray(open(path, "rb").read())
image[38:38 + 88] = name.ljust(88, b"\0")
open(path, "wb").write(image)
PY
table=$(ls "$archive"/2003-11-05/vm-fits.cfg)

site=$work/site
"$tools/vm-batch" --cfg "$table" --catalog "$work/catalog.sqlite" --site "$site" "$archive" "$work/out" -j2 \
  >"$work/batch.log" 2>&1
code=$?
# 1: a recording failed (the garbage header), as it must.
[ "$code" = 1 ] && grep -qE '^failed +1$' "$work/batch.log" ||
  fail "vm-batch exit $code: $(tail -5 "$work/batch.log")"
[ -f "$site/index.html" ] || fail "vm-batch made no $site/index.html: $(tail -5 "$work/batch.log")"

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
