#!/usr/bin/env bash
# Installs what building and testing Tessera needs on Debian 12. Safe to run
# again: it asks apt only for packages that are missing.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev pkg-config
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  libcli11-dev nlohmann-json3-dev
  # Real volumes for the host and restore tests: NTFS and FAT32 images
  # mounted through FUSE (fuse3 also stands in for the fuse package fusefat
  # asks for).
  ntfs-3g dosfstools fusefat fuse3
  # The desktop program: Qt 6 Widgets and Qt Test (with the offscreen
  # platform), a Japanese font so its texts render, and an X server with the
  # tools that drive the program in its end-to-end test.
  qt6-base-dev qt6-translations-l10n fonts-vlgothic xvfb xauth xdotool
  # The Debian package and its checks: man pages from their scdoc source,
  # dpkg-shlibdeps for the package's library dependencies (CPack asks `file`
  # which files are programs), lintian, the validators of the menu entry and
  # the AppStream data, and the file-type and man tools a desktop user has
  # (mimetype is what xdg-mime asks outside a desktop).
  scdoc dpkg-dev file lintian desktop-file-utils appstream shared-mime-info xdg-utils
  libfile-mimeinfo-perl man-db groff-base
  # What the scripts themselves use that a minimal root lacks.
  procps
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "install-deps: missing packages: ${missing[*]} (run as root to install them)" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
