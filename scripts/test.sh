#!/usr/bin/env bash
# Builds everything and runs the whole test suite: the fuzz targets are built
# (so they keep compiling), then the tests run in a debug build and again
# under the address and undefined-behaviour sanitizers.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

jobs=$(nproc)

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$jobs"

cmake --preset debug >/dev/null
cmake --build --preset debug -j "$jobs"
ctest --preset debug -j "$jobs"

cmake --preset asan >/dev/null
cmake --build --preset asan -j "$jobs"
ctest --preset asan -j "$jobs"
