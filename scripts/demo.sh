#!/usr/bin/env bash
# Builds Tessera, makes a small sample archive with the test-support writer,
# shows what tessera-cli reads from it and restores it into a temporary folder.
# Then shows the desktop program on the sample backup set: in a window when
# there is a display, otherwise as a picture of its main window.
set -euo pipefail
cd "$(dirname "$0")/.."

# The package manager's and the build's output go to a log; the demo's own
# output is what is left on the terminal.
mkdir -p build
log=$PWD/build/demo-setup.log
: >"$log"
quietly() {
  local what=$1
  shift
  echo "== $what (output in $log)"
  if ! "$@" >>"$log" 2>&1; then
    tail -n 30 "$log" >&2
    echo "demo: $what failed; the whole output is in $log" >&2
    exit 1
  fi
}
quietly "installing what is missing" scripts/install-deps.sh
quietly "configuring the release build" cmake --preset release
quietly "building tessera-cli, tessera and the sample writer" \
  cmake --build --preset release -j "$(nproc)" --target tessera-cli tessera-make-sample tessera

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

restored=$(mktemp -d "${TMPDIR:-/tmp}/tessera-demo.XXXXXX")
echo
echo "== tessera-cli extract $out/sample.qpx $restored"
"$cli" extract "$out"/sample.qpx "$restored"
echo
echo "== tessera-cli extract $out/sample-split.qpx $restored/photos 'c:\\users\\hanako\\documents\\写真'"
"$cli" extract "$out"/sample-split.qpx "$restored"/photos 'c:\users\hanako\documents\写真'
set_archive="$out"/set/set.qpx
echo
echo "== tessera-cli generations $set_archive"
"$cli" generations "$set_archive"
echo
echo "== tessera-cli diff $set_archive 1 4"
"$cli" diff "$set_archive" 1 4
echo
echo "== tessera-cli history $set_archive 'C:\\Data\\a.txt'"
"$cli" history "$set_archive" 'C:\Data\a.txt'
echo
echo "== tessera-cli extract --generation 2 $set_archive $restored/generation-2"
"$cli" extract --generation 2 "$set_archive" "$restored"/generation-2
echo
echo "== restored files (left in $restored)"
(cd "$restored" && find . -type f -printf '%10s  %TY-%Tm-%Td %TH:%TM  %P\n' | sort -k4)

app=build/release/src/app/tessera
echo
if [ -n "${DISPLAY:-}" ]; then
  echo "== tessera $set_archive (close the window to end)"
  echo "Select entries in the list and press Ctrl+R to restore them, drag them"
  echo "onto your file manager, or double-click a file to open it."
  "$app" "$set_archive"
else
  # No display: the offscreen platform renders the window with the set loaded.
  shot="$restored/tessera-main-window.png"
  runtime=$(mktemp -d "${TMPDIR:-/tmp}/tessera-runtime.XXXXXX")
  echo "== tessera --screenshot $shot $set_archive (no display: offscreen)"
  QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$runtime" "$app" --screenshot "$shot" "$set_archive" >/dev/null 2>&1
  rm -rf "$runtime"
  echo "The main window with the sample backup set: $shot"
fi
