#!/usr/bin/env bash
# Builds Tessera, makes a small sample archive with the test-support writer
# and shows what tessera-cli reads from it.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)" --target tessera-cli tessera-make-sample

cli=build/release/src/cli/tessera-cli
out=build/release/sample
rm -rf "$out"
mkdir -p "$out"
build/release/tests/support/tessera-make-sample "$out"

for archive in "$out"/sample.qpx "$out"/sample-split.qpx; do
  echo
  echo "== tessera-cli info $archive"
  "$cli" info "$archive"
  echo
  echo "== tessera-cli list $archive"
  "$cli" list "$archive"
  echo
  echo "== tessera-cli test $archive"
  "$cli" test "$archive"
done
