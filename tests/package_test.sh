#!/bin/sh
# Installs with `cmake --install`, then builds the Debian package, installs it
# into a scratch root with dpkg and runs psmerge-cli --version from there.
#   package_test.sh BUILD_DIR VERSION
set -eu
build=$1
version=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

check_tree() {  # the files every installation holds, under $1
    for f in bin/psmerge bin/psmerge-cli share/applications/psmerge.desktop \
             share/man/man1/psmerge.1.gz share/man/man1/psmerge-cli.1.gz; do
        [ -f "$1/$f" ] || fail "$1/$f is missing"
    done
    for size in 16 24 32 48 64 128 256; do
        [ -f "$1/share/icons/hicolor/${size}x${size}/apps/psmerge.png" ] ||
            fail "no ${size}x${size} icon under $1"
    done
    desktop-file-validate "$1/share/applications/psmerge.desktop" ||
        fail "the desktop entry does not validate"
}

cmake --install "$build" --prefix "$scratch/prefix" >/dev/null
check_tree "$scratch/prefix"

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$scratch/pkg" >/dev/null
deb=$(ls "$scratch"/pkg/psmerge_*.deb)
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libc6 libqt6core6 libqt6gui6 libqt6widgets6 libstdc++6; do
    case "$depends" in
        *"$lib "* | *"$lib,"* | *"$lib") ;;
        *) fail "Depends ($depends) lacks $lib" ;;
    esac
done

root=$scratch/root
mkdir -p "$root/var/lib/dpkg/updates" "$root/var/lib/dpkg/info"
touch "$root/var/lib/dpkg/status"
dpkg --instdir="$root" --admindir="$root/var/lib/dpkg" --log="$scratch/dpkg.log" \
     --force-depends --force-not-root --no-triggers -i "$deb" >/dev/null
dpkg --admindir="$root/var/lib/dpkg" -s psmerge | grep -q '^Status: install ok installed' ||
    fail "dpkg does not list psmerge as installed"
check_tree "$root/usr"

out=$("$root/usr/bin/psmerge-cli" --version)
[ "$out" = "psmerge-cli $version" ] || fail "psmerge-cli --version said: $out"
echo "package installs and runs: $out"
