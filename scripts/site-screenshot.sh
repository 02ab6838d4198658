#!/usr/bin/env bash
# Makes docs/site-recording.png, a recording's page of the quick-look site as
# headless Chromium shows it, whole, 1280 pixels wide:
#   scripts/site-screenshot.sh
# Builds vm-simobs and vm-batch in build/linux when needed, simulates a week
# in a temporary folder, makes its products and site with vm-batch --site,
# and photographs the first day's page with scripts/browser.py.
# Chromium must be installed (/usr/bin/chromium; scripts/setup.sh installs it).
set -euo pipefail
cd "$(dirname "$0")/.."

if [ ! -x "${VMFITS_CHROMIUM:-/usr/bin/chromium}" ]; then
  echo "site-screenshot: Chromium is not installed (scripts/setup.sh installs it)" >&2
  exit 1
fi
cmake -S . -B build/linux -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/linux -j2 --target vm-simobs vm-batch >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
build/linux/tools/vm-simobs --out "$work/archive" --days 7 --cfg >/dev/null
status=0
build/linux/tools/vm-batch --cfg "$work/archive/2003-11-05/vm-fits.cfg" --catalog "$work/catalog.sqlite" \
  --site "$work/site" "$work/archive" "$work/out" -j2 >"$work/batch.log" 2>&1 || status=$?
if [ "$status" -ne 0 ]; then
  echo "vm-batch ended with exit code $status:" >&2
  tail -5 "$work/batch.log" >&2
  exit 1
fi
page=$(grep -lF '2003-11-05' "$work/site"/r/*/index.html | head -1)
if [ -z "$page" ]; then
  echo "site-screenshot: no recording page names 2003-11-05" >&2
  exit 1
fi
mkdir -p docs
/usr/bin/python3 scripts/browser.py "$page" docs/site-recording.png
