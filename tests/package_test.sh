#!/bin/sh
# Installs with `cmake --install`, then builds the Debian package and checks
# it: lintian finds no error or warning, no file it installs belongs to
# another installed package, dpkg installs it into a scratch root from which
# both programs run, and a desktop (GIO) offers PS merge for its own
# drawings only, with and without another PostScript viewer.
#   package_test.sh BUILD_DIR VERSION
set -eu
build=$1
version=$2
data=$(cd "$(dirname "$0")/data" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

check_tree() {  # the files every installation holds, under $1
    for f in bin/a5merge bin/a5merge-cli share/applications/a5merge.desktop \
             share/mime/packages/a5merge.xml \
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
    # Its own drawings only, never PostScript as such.
    grep -qx 'MimeType=application/x-a5merge-drawing;' "$1/share/applications/a5merge.desktop" ||
        fail "the desktop entry claims more than its own drawings"
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

# The desktop's view, as dpkg's triggers leave it (the MIME database and the
# desktop entries' cache made again), with the system's MIME types beside
# ours: a drawing is ours, a sheet and other PostScript are not, and PS merge
# is the program for drawings only.
desktop=$scratch/desktop
mkdir -p "$desktop/share/mime/packages" "$desktop/share/applications" "$desktop/config" \
         "$desktop/home"
cp /usr/share/mime/packages/freedesktop.org.xml "$root/usr/share/mime/packages/a5merge.xml" \
   "$desktop/share/mime/packages/"
cp "$root/usr/share/applications/a5merge.desktop" "$desktop/share/applications/"
update-mime-database "$desktop/share/mime" >/dev/null 2>&1
gio_here() {
    env -i PATH="$root/usr/bin:/usr/bin:/bin" HOME="$desktop/home" LC_ALL=C.UTF-8 \
        XDG_DATA_HOME="$desktop/home/.local/share" XDG_CONFIG_HOME="$desktop/config" \
        XDG_DATA_DIRS="$desktop/share" XDG_CONFIG_DIRS="$desktop/config" gio "$@"
}
type_of() { gio_here info -a standard::content-type "$1" | sed -n 's/.*content-type: //p'; }
printf '%%!PS-Adobe-3.0\n%%%%Creator: groff version 1.22.4\n' > "$scratch/other.ps"
cp "$data/top.ps" "$scratch/DRAWING.PS"
for f in "$data/top.ps:application/x-a5merge-drawing" "$scratch/DRAWING.PS:application/x-a5merge-drawing" \
         "$data/expected_merge.PS:application/x-a5merge-sheet" "$scratch/other.ps:application/postscript"; do
    [ "$(type_of "${f%%:*}")" = "${f#*:}" ] || fail "${f%%:*} is $(type_of "${f%%:*}"), not ${f#*:}"
done
default_for() { gio_here mime "$1" | sed -n 's/^Default application for .*: //p'; }
for viewer in none viewer.desktop; do
    if [ "$viewer" != none ]; then
        printf '[Desktop Entry]\nType=Application\nName=Viewer\nExec=true %%f\nMimeType=application/postscript;\n' \
            > "$desktop/share/applications/$viewer"
    fi
    update-desktop-database "$desktop/share/applications"
    [ "$(default_for application/x-a5merge-drawing)" = a5merge.desktop ] ||
        fail "PS merge is not the program for its drawings (viewer: $viewer)"
    ! gio_here mime application/postscript | grep -q a5merge.desktop ||
        fail "PS merge is offered for all PostScript (viewer: $viewer)"
    ! gio_here mime application/x-a5merge-sheet | grep -q a5merge.desktop ||
        fail "PS merge is offered for merged sheets (viewer: $viewer)"
done
[ "$(default_for application/postscript)" = viewer.desktop ] || fail "the viewer lost PostScript"
[ "$(default_for application/x-a5merge-sheet)" = viewer.desktop ] || fail "the viewer lost sheets"
echo "package: lintian clean, no file owned elsewhere, both programs run from the scratch root," \
     "PS merge is the program for its own drawings only"
