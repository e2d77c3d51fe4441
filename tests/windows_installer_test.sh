#!/bin/sh
# The installer under wine: a silent per-user install puts the programs, the
# Start-menu entry and the Open With keys in place without taking the .ps
# default; the silent uninstall removes every file and key again.
# Arguments: the installer, wine-run.sh, the wine prefix.
set -eu
installer=$1
run=$2
export WINEPREFIX=$3
user=$(id -un)
dir="$WINEPREFIX/drive_c/users/$user/AppData/Local/Programs/a5merge"
link="$WINEPREFIX/drive_c/users/$user/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/PS merge.lnk"
fail() { echo "FAIL: $*" >&2; exit 1; }
has_key() { "$run" reg query "$1" ${2:+/v "$2"} >/dev/null 2>&1; }

"$run" "$(printf 'Z:%s' "$installer" | tr / '\\')" /S || fail "the installer ended with $?"
for file in a5merge.exe a5merge-cli.exe README.md LICENSE.txt uninstall.exe; do
    [ -f "$dir/$file" ] || fail "$file was not installed"
done
[ -f "$link" ] || fail "no Start-menu entry"
has_key 'HKCU\Software\Classes\Applications\a5merge.exe\SupportedTypes' .ps ||
    fail "a5merge.exe does not say it opens .ps"
has_key 'HKCU\Software\Classes\.ps\OpenWithProgids' a5merge.drawing || fail "not in Open With"
"$run" reg query 'HKCU\Software\Classes\.ps' /ve | grep -q "value not set" ||
    fail "the default program of .ps was taken"
has_key 'HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\a5merge' DisplayName ||
    fail "not in Apps & features"
version=$("$run" 'C:\users\'"$user"'\AppData\Local\Programs\a5merge\a5merge-cli.exe' --version)
[ "$version" = "a5merge-cli @PROJECT_VERSION@" ] || fail "the installed CLI says: $version"

# The uninstaller copies itself away and runs from there: wait for its end.
"$run" 'C:\users\'"$user"'\AppData\Local\Programs\a5merge\uninstall.exe' /S ||
    fail "the uninstaller ended with $?"
for _ in $(seq 100); do [ -d "$dir" ] || break; sleep 0.2; done
[ ! -e "$dir" ] || fail "left behind: $(ls -A "$dir")"
[ ! -e "$link" ] || fail "the Start-menu entry was left"
for key in 'HKCU\Software\Classes\Applications\a5merge.exe' 'HKCU\Software\Classes\a5merge.drawing' \
    'HKCU\Software\Classes\.ps' 'HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\a5merge'; do
    has_key "$key" && fail "$key was left"
done
echo "installed and removed"
