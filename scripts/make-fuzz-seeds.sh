#!/usr/bin/env bash
# Writes the fuzz targets' seed folders (fuzz/seeds/) again from the
# test-support writers of a debug build: each sample archive with a leading
# byte that says how many volume files follow it, and the management files
# of the sample set. The implode decoder's seeds are tests/data/dcl-vectors.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset debug >/dev/null
cmake --build --preset debug --target tessera-make-sample tessera-make-management-seeds >/dev/null
tools=build/debug/tests/support

work=$(mktemp -d "${TMPDIR:-/tmp}/tessera-seeds.XXXXXX")
trap 'rm -rf "$work"' EXIT
"$tools"/tessera-make-sample "$work/samples" >/dev/null

rm -rf fuzz/seeds/archive fuzz/seeds/management
mkdir -p fuzz/seeds/archive fuzz/seeds/management
for archive in "$work"/samples/*.qpx "$work"/samples/set/*.qpx "$work"/samples/set/*.qpi; do
  # The volumes of a split archive are NAME.1, NAME.2 ...; at most three
  # follow in a seed, as the target reads them.
  volumes=()
  for k in 1 2 3; do
    [ -f "$archive.$k" ] && volumes+=("$archive.$k")
  done
  { printf "\\$(printf '%03o' "${#volumes[@]}")"; cat "$archive" "${volumes[@]}"; } >"fuzz/seeds/archive/$(basename "$archive")"
done
"$tools"/tessera-make-management-seeds fuzz/seeds/management >/dev/null
du -sh fuzz/seeds
