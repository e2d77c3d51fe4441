#!/bin/sh
# The X server the Windows window tests run on: `xvfb.sh start FOLDER
# WINEPREFIX` starts an Xvfb on a free display and writes its number to
# FOLDER/display; `xvfb.sh stop FOLDER WINEPREFIX` ends it. Both end the wine
# prefix's server: wine's desktop, once made, stays on the display it found
# (none, for a program that only listed its tests).
set -eu
folder=$2
WINEPREFIX=$3 /usr/lib/wine/wineserver -k 2>/dev/null || true
case $1 in
start)
    mkdir -p "$folder"
    rm -f "$folder/display"
    # Apart from CTest's output, which would otherwise wait for it.
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$folder/display" \
        </dev/null >/dev/null 2>&1 &
    echo $! >"$folder/pid"
    for _ in $(seq 100); do [ -s "$folder/display" ] && exit 0; sleep 0.1; done
    echo "Xvfb did not start" >&2
    exit 1
    ;;
stop)
    [ -f "$folder/pid" ] && kill "$(cat "$folder/pid")" 2>/dev/null || true
    rm -f "$folder/display" "$folder/pid"
    ;;
esac
