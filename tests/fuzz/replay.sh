#!/usr/bin/env bash
# Runs a fuzz target once on every file of the given folders (and on the
# files given), in name order: replay.sh TARGET FOLDER-OR-FILE...
# Works for the libFuzzer programs (which run each file given and exit) and
# for the replay programs alike.
set -euo pipefail
target=$1
shift
files=()
for input in "$@"; do
  if [ -d "$input" ]; then
    while IFS= read -r -d '' f; do files+=("$f"); done < <(find "$input" -type f -print0 | sort -z)
  elif [ -f "$input" ]; then
    files+=("$input")
  else
    echo "$input: no such file or folder"
    exit 2
  fi
done
if [ "${#files[@]}" -eq 0 ]; then
  echo "no inputs to replay in $*"
  exit 1
fi
echo "replaying ${#files[@]} inputs"
exec "$target" "${files[@]}"
