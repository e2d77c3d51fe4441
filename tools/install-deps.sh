#!/bin/sh
# Installs the Debian packages that building and testing need, when any is missing.
set -eu

# Arguments name packages needed besides these. The package test also wants
# lintian, and psutils and groff installed, so that it sees any name of ours
# that an installed package already uses. Ghostscript and bubblewrap make
# PDFs and renders; poppler-utils lets the tests look at those PDFs; CUPS
# (its library to build, its server, client and filters for the print test);
# file-system tools and strace for the fault tests (full ext2 and btrfs
# images, the order of a flush and a rename).
pkgs="cmake make g++ pkg-config qt6-base-dev libgtest-dev libgmock-dev fonts-wine
      dpkg-dev file desktop-file-utils lintian psutils groff ghostscript bubblewrap
      poppler-utils libcups2-dev cups cups-client cups-filters e2fsprogs btrfs-progs
      strace $*"

missing=""
for p in $pkgs; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $p"
    fi
done
[ -z "$missing" ] && exit 0

echo "Installing missing packages:$missing"
if [ "$(id -u)" -eq 0 ]; then
    sudo=""
elif command -v sudo >/dev/null 2>&1; then
    sudo="sudo"
else
    echo "Run as root or install sudo; these packages are missing:$missing" >&2
    exit 1
fi
$sudo env DEBIAN_FRONTEND=noninteractive apt-get update
# shellcheck disable=SC2086
$sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends $missing
