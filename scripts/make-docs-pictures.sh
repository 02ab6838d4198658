#!/usr/bin/env bash
# Makes the pictures that the README and docs/vm-scan.md show, from the bundled sample
# observation, into docs/:
#   scripts/make-docs-pictures.sh
# Builds vm-fits and vm-scan in build/linux when needed, converts the sample
# in a temporary folder (with the sample's calibration table beside a copy of
# vm-fits) and draws one scan file, the overview of the run and the jump
# repair of channel 1; for docs/calibration.md, V of the run before and after
# calibration and the spectra of its sources, and the spectra of a simulated
# recording with four sources and more noise. The same sources give the same
# bytes.
set -euo pipefail
cd "$(dirname "$0")/.."

sample=samples/sun-2003-11-05
limit=$((200 * 1024))

cmake -S . -B build/linux -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/linux -j2 --target vm-fits vm-scan vm-simobs >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/bin" "$work/config" docs
cp build/linux/vm-fits "$work/bin/vm-fits"
cp "$sample/vm-fits.cfg" "$work/bin/vm-fits.cfg"
status=0
XDG_CONFIG_HOME="$work/config" "$work/bin/vm-fits" "$sample/sun.05h" "$work/sample" </dev/null || status=$?
if [ "$status" -ne 1 ]; then
  echo "vm-fits ended with exit code $status (1 means converted)" >&2
  exit 1
fi

scan=build/linux/tools/vm-scan
"$scan" plot "$work/sample/s05b03_05z.005" -o docs/scan-plot.png
"$scan" overview --index "$work/sample/s05b03_05z.0hd" -o docs/overview.png
"$scan" repair-plot "$sample/sun.05h" 1 --cfg "$sample/vm-fits.cfg" -o docs/repair-plot.png

# Physical units. The sample's scan file at 1.168 GHz (its ar0 file is short)
# is refused, which makes these exit with 1 once the picture is written.
drawn() { rm -f "$1"; shift; "$@" || [ $? -eq 1 ]; }
"$scan" overview --index "$work/sample/s05b03_05z.0hd" --pol V -o docs/overview-v.png
drawn docs/calibrated-v.png "$scan" overview --index "$work/sample/s05b03_05z.0hd" --pol V --calibrated \
  -o docs/calibrated-v.png 2>/dev/null
drawn docs/spectrum.png "$scan" spectrum "$work/sample/s05b03_05z.0hd" -o docs/spectrum.png 2>/dev/null
build/linux/tools/vm-simobs --out "$work/simulated" --seed 11 --channels 12 --sources 4 --noise 0.003 \
  --gains 0.3:3 --no-jumps --cfg >/dev/null
cp "$work/simulated/vm-fits.cfg" "$work/bin/vm-fits.cfg"
status=0
XDG_CONFIG_HOME="$work/config" "$work/bin/vm-fits" "$work/simulated/sun.05h" "$work/simulated-scans" </dev/null || status=$?
[ "$status" -eq 1 ] || { echo "vm-fits ended with exit code $status on the simulated recording" >&2; exit 1; }
"$scan" spectrum "$work/simulated-scans/s05b03_05z.0hd" -o docs/spectrum-simulated.png

for picture in docs/scan-plot.png docs/overview.png docs/repair-plot.png docs/overview-v.png docs/calibrated-v.png \
  docs/spectrum.png docs/spectrum-simulated.png; do
  size=$(wc -c <"$picture")
  printf '%8d  %s\n' "$size" "$picture"
  if [ "$size" -ge "$limit" ]; then
    echo "$picture is $size bytes, not under 200 KiB" >&2
    exit 1
  fi
done
