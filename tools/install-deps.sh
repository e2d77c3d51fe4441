#!/bin/sh
# Installs the Debian packages that building and testing need, when any is missing.
set -eu

# What building and running the programs needs ("--run": only that), then
# what the tests need besides: lintian, and psutils and groff installed so
# that the package test sees any name of ours that an installed package
# already uses; shared-mime-info and GIO to see the package as a desktop
# does; poppler-utils to look at PDFs; CUPS's server, client and filters for
# the print test; file-system tools, ACL tools and strace for the fault
# tests (full ext2 and btrfs images, access control lists, the order of a
# flush and a rename).
# "--windows": what cross-building for Windows and testing under wine need.
# Further arguments name packages needed besides these.
run="cmake make g++ pkg-config qt6-base-dev libgtest-dev libgmock-dev libcups2-dev fonts-wine
     ghostscript bubblewrap"
windows="cmake make g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix googletest
         wine wine64 fonts-wine xvfb nsis cups cups-client libcups2"
tests="dpkg-dev file desktop-file-utils shared-mime-info libglib2.0-bin lintian psutils groff
       poppler-utils cups cups-client cups-filters e2fsprogs btrfs-progs acl attr strace"
if [ "${1:-}" = "--run" ]; then
    shift
    pkgs="$run $*"
elif [ "${1:-}" = "--windows" ]; then
    shift
    pkgs="$windows $*"
else
    pkgs="$run $tests $*"
fi

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
