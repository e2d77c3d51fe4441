#!/bin/sh
# Makes the wine prefix the Windows tests run in (argument: its folder), once:
# no crash dialog or debugger, wine's own Tahoma as the design's font, and
# nothing fetched (no Mono, no Gecko).
set -eu
prefix=$1
[ -f "$prefix/.a5merge-ready" ] && exit 0
rm -rf "$prefix"
mkdir -p "$prefix"
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine=/usr/lib/wine/wine64
"$wine" wineboot --init >/dev/null 2>&1
# A crashing program ends with its exit status, no dialog, no winedbg.
"$wine" reg add "HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\AeDebug" \
    /v Auto /t REG_SZ /d 1 /f >/dev/null 2>&1
"$wine" reg delete "HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\AeDebug" \
    /v Debugger /f >/dev/null 2>&1 || true
"$wine" reg add "HKCU\\Software\\Wine\\WineDbg" /v ShowCrashDialog /t REG_DWORD /d 0 /f \
    >/dev/null 2>&1
/usr/lib/wine/wineserver -w
cp /usr/share/wine/fonts/tahoma*.ttf "$prefix/drive_c/windows/Fonts/" 2>/dev/null || true
touch "$prefix/.a5merge-ready"
