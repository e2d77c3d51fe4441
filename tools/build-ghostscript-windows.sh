#!/bin/sh
# Builds Ghostscript for Windows (gswin64c.exe) from Debian's own sources with
# the mingw-w64 cross compiler, for the Windows tests under wine, and prints
# its path. The result is kept outside the build folder, by Debian's version
# of ghostscript, so that later runs (and CI on the same machine) skip this:
#   ${A5MERGE_CACHE:-~/.cache/a5merge}/ghostscript-windows/VERSION-RECIPE/gswin64c.exe
#
# Debian's source is free of third-party libraries: zlib, libpng, freetype,
# lcms2, jbig2dec and openjpeg (the PDF reader wants both) come the same way
# and go into the Ghostscript tree (its makefiles build them); libjpeg-turbo
# is built with CMake as a static library, because Ghostscript's jpeg
# makefile wants the IJG sources. It reads PostScript and PDF (a5merge reads
# back the PDFs it writes), without the other languages, and keeps the
# devices a5merge uses: pdfwrite, pgmraw, ppmraw. Two changes to the source:
# Debian's build-date patch calls setenv, which Windows lacks, and standard
# input, output and error are put in binary mode, so that pipes carry PDFs
# and pictures unchanged.
set -eu

cache=${A5MERGE_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/a5merge}/ghostscript-windows
version=$(apt-cache policy ghostscript | sed -n 's/^ *Candidate: //p')
[ -n "$version" ] && [ "$version" != "(none)" ] || { echo "no ghostscript in apt's lists" >&2; exit 1; }
# The recipe's number goes up whenever what is built here changes.
recipe=3
result=$cache/$version-$recipe/gswin64c.exe
if [ -f "$result" ]; then
    echo "$result"
    exit 0
fi

here=$(cd "$(dirname "$0")" && pwd)
sh "$here/install-deps.sh" gcc-mingw-w64-x86-64-posix g++-mingw-w64-x86-64-posix cmake make gcc \
    autoconf automake libtool dpkg-dev >&2
if [ "$(id -u)" -eq 0 ]; then sudo=""; else sudo="sudo"; fi

work=$(mktemp -d)
src_list=/etc/apt/sources.list.d/a5merge-deb-src.sources
cleanup() {
    rm -rf "$work"
    $sudo rm -f "$src_list" /etc/apt/sources.list.d/a5merge-deb-src.list
}
trap cleanup EXIT

# deb-src entries for the registries the machine's deb entries name, for as
# long as this runs.
echo "Fetching the sources of ghostscript and its libraries (deb-src, for now)" >&2
if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources | $sudo tee "$src_list" >/dev/null
fi
if [ -f /etc/apt/sources.list ] && grep -q '^deb ' /etc/apt/sources.list; then
    sed -n 's/^deb /deb-src /p' /etc/apt/sources.list |
        $sudo tee /etc/apt/sources.list.d/a5merge-deb-src.list >/dev/null
fi
$sudo env DEBIAN_FRONTEND=noninteractive apt-get update -qq >&2
suite=$(. /etc/os-release && echo "$VERSION_CODENAME")
cd "$work"
for package in ghostscript zlib libpng1.6 freetype lcms2 libjpeg-turbo jbig2dec openjpeg2; do
    # A mirror may list a newer version than it holds: then the suite's own.
    apt-get source -qq --download-only "$package" >/dev/null 2>&1 ||
        apt-get source -qq --download-only "$package/$suite" >&2
done
for dsc in *.dsc; do
    dpkg-source -q -x --no-check "$dsc" >/dev/null
done
gs_src=$(echo ghostscript-*/)
gs_src=${gs_src%/}

cat > mingw.cmake <<'EOF'
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
EOF
echo "Building libjpeg-turbo" >&2
cmake -S libjpeg-turbo-*/ -B jpeg-build -DCMAKE_TOOLCHAIN_FILE="$work/mingw.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_SIMD=OFF \
    -DWITH_TURBOJPEG=OFF -DCMAKE_INSTALL_PREFIX="$work/jpeg" >/dev/null
cmake --build jpeg-build -j "$(nproc)" --target install >/dev/null

cp -r zlib-*/ "$gs_src/zlib"
cp -r libpng1.6-*/ "$gs_src/libpng"
cp -r freetype-*/ "$gs_src/freetype"
cp -r lcms2-*/ "$gs_src/lcms2"
cp -r jbig2dec-*/ "$gs_src/jbig2dec"
cp -r openjpeg2-*/ "$gs_src/openjpeg"
# The two headers openjpeg's own CMake would write, as Ghostscript's tree
# ships them.
opj=$gs_src/openjpeg/src/lib/openjp2
opj_version=$(sed -n 's/^set(OPENJPEG_VERSION_\(MAJOR\|MINOR\|BUILD\) \([0-9]*\))/\2/p' \
    "$gs_src/openjpeg/CMakeLists.txt" | paste -sd.)
printf '#define OPJ_HAVE_STDINT_H 1\n#define OPJ_HAVE_INTTYPES_H 1\n#define OPJ_VERSION_MAJOR %s\n#define OPJ_VERSION_MINOR %s\n#define OPJ_VERSION_BUILD %s\n' \
    $(echo "$opj_version" | tr . ' ') > "$opj/opj_config.h"
printf '#define OPJ_PACKAGE_VERSION "%s"\n#define OPJ_HAVE_MALLOC_H 1\n#define OPJ_HAVE__ALIGNED_MALLOC 1\n' \
    "$opj_version" > "$opj/opj_config_private.h"

cd "$gs_src"
python3 - <<'EOF'
import re
path = 'base/gp_unix.c'
text = open(path).read()
old = '        setenv("TZ", "UTC", 1);'
assert text.count(old) == 1, 'the build-date patch changed'
text = text.replace(old, '#ifdef _WIN32\n        _putenv("TZ=UTC");\n#else\n' + old + '\n#endif')
open(path, 'w').write(text)
path = 'psi/gs.c'
text = open(path).read()
text = text.replace('#include "locale_.h"\n',
                    '#include "locale_.h"\n#ifdef _WIN32\n#include <fcntl.h>\n#include <io.h>\n#endif\n', 1)
old = '    int exit_status, code;\n    void *minst = NULL;\n'
assert text.count(old) == 1, 'main changed'
text = text.replace(old, old + '\n#ifdef _WIN32\n    /* Pipes carry bytes: no CR LF translation. */\n'
                    '    _setmode(0, _O_BINARY);\n    _setmode(1, _O_BINARY);\n    _setmode(2, _O_BINARY);\n#endif\n')
open(path, 'w').write(text)
# Debian's openjpeg is newer than the one Ghostscript's makefile lists: its
# t1.c calls the HTJ2K decoder in ht_dec.c.
path = 'base/openjpeg.mak'
text = open(path).read()
old = '\t$(OPEN_JPEG_OBJ)$(OPEN_JPEG_PREFIX)t1.$(OBJ)\t\t\\\n'
assert text.count(old) == 1, 'openjpeg.mak changed'
text = text.replace(old, old + '\t$(OPEN_JPEG_OBJ)$(OPEN_JPEG_PREFIX)ht_dec.$(OBJ)\t\t\\\n')
text += ('\n$(OPEN_JPEG_OBJ)$(OPEN_JPEG_PREFIX)ht_dec.$(OBJ) : $(OPEN_JPEG_SRC)ht_dec.c '
         '$(open_jpeg_HDRS) $(OPEN_JPEG_DEP)\n'
         '\t$(OPEN_JPEG_CC) $(OPEN_JPEG_O)ht_dec.$(OBJ) $(C_) $(OPEN_JPEG_SRC)ht_dec.c\n')
open(path, 'w').write(text)
EOF
echo "Configuring Ghostscript (its configure is older than Debian's configure.ac: autogen first)" >&2
NOCONFIGURE=1 ./autogen.sh >/dev/null 2>&1
# jbig2.h makes inline nothing unless it is a macro: it stays the keyword,
# or mingw's inline functions would be defined in every object.
./configure --host=x86_64-w64-mingw32 --build=x86_64-pc-linux-gnu CC=x86_64-w64-mingw32-gcc-posix \
    CCAUX=gcc CPPFLAGS="-I$work/jpeg/include -Dinline=inline" LDFLAGS="-L$work/jpeg/lib -static" \
    --without-x --disable-cups --disable-dbus --disable-fontconfig --disable-gtk --without-ijs \
    --without-libtiff --disable-contrib \
    --without-pcl --without-xps --without-gpdl --without-libidn --without-libpaper \
    --without-tesseract --without-urf --with-drivers=PNG,BMP,PBM,PS >/dev/null
echo "Building Ghostscript for Windows (a few minutes)" >&2
make -j "$(nproc)" so=false >build.log 2>&1 || { tail -30 build.log >&2; exit 1; }

mkdir -p "$(dirname "$result")"
cp bin/gs.exe "$result.part"
mv "$result.part" "$result"
echo "$gs_src" > "$(dirname "$result")/source"
echo "$result"
