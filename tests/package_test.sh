#!/bin/sh
# Installs with `cmake --install`, then builds the Debian package and checks
# it: lintian finds no error or warning, no file it installs belongs to
# another installed package, and dpkg installs it into a scratch root from
# which both programs run.
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
    for f in bin/a5merge bin/a5merge-cli share/applications/a5merge.desktop \
             share/man/man1/a5merge.1.gz share/man/man1/a5merge-cli.1.gz; do
        [ -f "$1/$f" ] || fail "$1/$f is missing"
    done
    for size in 16 24 32 48 64 128 256; do
        [ -f "$1/share/icons/hicolor/${size}x${size}/apps/a5merge.png" ] ||
            fail "no ${size}x${size} icon under $1"
    done
    for program in a5merge a5merge-cli; do
        ! readelf -d "$1/bin/$program" | grep -qE 'R(UN)?PATH' ||
            fail "$1/bin/$program has a run path"
    done
    desktop-file-validate "$1/share/applications/a5merge.desktop" ||
        fail "the desktop entry does not validate"
    # Offered for PostScript files, but below any viewer.
    grep -qx 'MimeType=application/postscript;' "$1/share/applications/a5merge.desktop" &&
        grep -qx 'InitialPreference=0' "$1/share/applications/a5merge.desktop" ||
        fail "the desktop entry does not offer itself for PostScript at the lowest preference"
}

cmake --install "$build" --prefix "$scratch/prefix" >/dev/null
check_tree "$scratch/prefix"

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$scratch/pkg" >/dev/null
deb=$(ls "$scratch"/pkg/a5merge_*.deb)
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libc6 libqt6core6 libqt6gui6 libqt6widgets6 libqt6printsupport6 libcups2 libstdc++6; do
    case "$depends" in
        *"$lib "* | *"$lib,"* | *"$lib") ;;
        *) fail "Depends ($depends) lacks $lib" ;;
    esac
done

recommends=$(dpkg-deb -f "$deb" Recommends)
for pkg in ghostscript bubblewrap fonts-wine; do
    case "$recommends" in
        *"$pkg"*) ;;
        *) fail "Recommends ($recommends) lacks $pkg" ;;
    esac
done

lintian --fail-on error,warning "$deb" 2>/dev/null || fail "lintian reports the above"

# Every file of the package must be new to the system: dpkg knows no other
# owner of it (a name taken by another package would stop apt installing it).
files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { sub(/^\./, "", $6); print $6 }')
[ -n "$files" ] || fail "the package lists no files"
for f in $files; do
    owners=$(dpkg -S "$f" 2>/dev/null | sed -n 's/: .*//p' | tr ', ' '\n\n' | grep -vx -e a5merge -e '') ||
        true
    [ -z "$owners" ] || fail "$f is already installed by: $owners"
done

root=$scratch/root
mkdir -p "$root/var/lib/dpkg/updates" "$root/var/lib/dpkg/info"
touch "$root/var/lib/dpkg/status"
dpkg --instdir="$root" --admindir="$root/var/lib/dpkg" --log="$scratch/dpkg.log" \
     --force-depends --force-not-root --no-triggers -i "$deb" >/dev/null
dpkg --admindir="$root/var/lib/dpkg" -s a5merge | grep -q '^Status: install ok installed' ||
    fail "dpkg does not list a5merge as installed"
check_tree "$root/usr"
for f in copyright changelog.gz; do
    [ -f "$root/usr/share/doc/a5merge/$f" ] || fail "/usr/share/doc/a5merge/$f is missing"
done

for program in a5merge a5merge-cli; do
    out=$(env -u DISPLAY -u WAYLAND_DISPLAY "$root/usr/bin/$program" --version)
    [ "$out" = "$program $version" ] || fail "$program --version said: $out"
done
echo "package: lintian clean, no file owned elsewhere, both programs run from the scratch root"
