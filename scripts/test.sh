#!/usr/bin/env bash
# Builds everything and runs the whole test suite: the Debian package is
# built, installed, checked and removed (as root), the fuzz targets are built
# (so they keep compiling), then the tests run in a debug build and again
# under the address and undefined-behaviour sanitizers; CTest's summary ends
# the output.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

if [ "$(id -u)" -eq 0 ]; then
  bash scripts/package-test.sh
else
  echo "test.sh: the package test installs a package and needs root; skipped" >&2
fi

jobs=$(nproc)

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$jobs"

cmake --preset debug >/dev/null
cmake --build --preset debug -j "$jobs"
ctest --preset debug -j "$jobs"

cmake --preset asan >/dev/null
cmake --build --preset asan -j "$jobs"
ctest --preset asan -j "$jobs"
