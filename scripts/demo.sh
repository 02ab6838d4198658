#!/usr/bin/env bash
# Installs what is missing, builds the converter (and the Python module
# vmfits, docs/python.md), and converts the bundled sample observation into
# out/sample:
#   scripts/demo.sh
# Needs no standard input and no display. The calibration table of the sample
# is copied beside build/linux/vm-fits (the converter reads it from its own
# folder); the folders the converter remembers go to out/demo-config, so your
# own remembered folders are left alone.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

sample=samples/sun-2003-11-05
header=$sample/sun.05h
output=out/sample

echo "== Installing what is missing"
scripts/setup.sh </dev/null

echo "== Building build/linux"
cmake -S . -B build/linux -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/linux -j"$(nproc 2>/dev/null || echo 2)" --target vm-fits _vmfits
cp "$sample/vm-fits.cfg" build/linux/vm-fits.cfg

echo "== Converting $header into $output"
rm -rf "$output"
mkdir -p out "$root/out/demo-config"
status=0
XDG_CONFIG_HOME="$root/out/demo-config" build/linux/vm-fits "$header" "$output" </dev/null || status=$?
if [ "$status" -ne 1 ]; then
  echo "vm-fits ended with exit code $status (1 means converted): FAILED" >&2
  exit 1
fi
echo "vm-fits ended with exit code 1: converted"

index=$(ls "$output"/*.0hd 2>/dev/null | head -n 1 || true)
if [ -z "$index" ]; then
  echo "no scan index was written: FAILED" >&2
  exit 1
fi

echo
echo "== Scan index $index"
tr -d '\r' <"$index"
echo
echo "== Files written (bytes)"
for file in "$output"/*; do
  printf '%8d  %s\n' "$(wc -c <"$file")" "$file"
done

first=$(ls "$output" | grep -v '\.0hd$' | head -n 1 || true)
if [ -z "$first" ]; then
  echo
  echo "no scan file was written (is vm-fits.cfg beside build/linux/vm-fits?)"
else
  echo
  echo "== Header cards of $output/$first"
  # The cards end with CR LF; the main header and the channel group each end
  # with an END card, and the data blocks follow.
  awk '{ sub(/\r$/, ""); print } /^END$/ && ++groups == 2 { exit }' "$output/$first"
fi
