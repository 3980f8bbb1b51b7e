#!/usr/bin/env bash
# Builds everything and runs the whole test suite, the way CI does: the
# Debian package is built, installed, checked and removed (as root), the
# fuzz targets are built (so they keep compiling), the threading tests run
# under the thread sanitizer, then every test, the fuzz seeds included, runs
# under the address and undefined-behaviour sanitizers with the standard
# library's checks. Warnings are errors in all these builds. CTest's summary
# of the full run ends the output.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

jobs=$(nproc)
started=$SECONDS
step() { printf '== test.sh: %s (%d min in)\n' "$*" $(((SECONDS - started) / 60)); }
# The release build of the package test is checked like the others.
export TESSERA_PACKAGE_PRESET=ci-release

if [ "$(id -u)" -eq 0 ]; then
  step "package test"
  bash scripts/package-test.sh
else
  echo "test.sh: the package test installs a package and needs root; skipped" >&2
fi

step "fuzz targets"
cmake --preset ci-fuzz >/dev/null
cmake --build --preset ci-fuzz -j "$jobs" --target fuzz_explode fuzz_archive fuzz_management

# Only what the threading tests need is built with the thread sanitizer.
step "threading tests under the thread sanitizer"
cmake --preset ci-tsan >/dev/null
cmake --build --preset ci-tsan -j "$jobs" --target threading_tests
threads=0
ctest --preset ci-tsan -j "$jobs" || threads=$?

step "every test under the address and undefined-behaviour sanitizers"
cmake --preset ci-asan >/dev/null
cmake --build --preset ci-asan -j "$jobs"
if [ "$threads" -ne 0 ]; then
  echo "test.sh: the threading tests failed under the thread sanitizer (above); the full run follows" >&2
fi
ctest --preset ci-asan -j "$jobs"
exit "$threads"
