#!/bin/sh
# The installer under wine: a silent per-user install puts the programs, the
# Start-menu entry and the Open With keys in place without taking the .ps
# default; run again over a PS merge that runs and an older version, it
# closes the window and replaces every file; the silent uninstall, with PS
# merge running, closes it and removes every file and key again.
# Arguments: the installer, wine-run-x.sh, its wine prefix, the window
# program and the CLI built, stand_in_child.exe.
set -eu
installer=$1
run=$2
prefix=$3
built_window=$4
built_cli=$5
stand_in=$6
user=$(id -un)
dir="$prefix/drive_c/users/$user/AppData/Local/Programs/a5merge"
windows_dir='C:\users\'"$user"'\AppData\Local\Programs\a5merge'
link="$prefix/drive_c/users/$user/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/PS merge.lnk"
key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\a5merge'
fail() { echo "FAIL: $*" >&2; exit 1; }
has_key() { "$run" reg query "$1" ${2:+/v "$2"} >/dev/null 2>&1; }
windows_path() { printf 'Z:%s' "$1" | tr / '\\'; }
# Starts the installed window; returns once it shows (its process in $window).
start_window() {
    "$run" "$windows_dir\\a5merge.exe" &
    window=$!
    "$run" "$(windows_path "$stand_in")" window a5merge.Form1 || fail "PS merge did not show"
}
# The window started last has ended (the installer closed it).
window_closed() {
    for _ in $(seq 100); do kill -0 "$window" 2>/dev/null || return 0; sleep 0.2; done
    fail "PS merge still runs"
}

# From a clean state: nothing of an earlier run that failed half-way.
rm -rf "$dir" "$link"
"$run" reg delete "$key" /f >/dev/null 2>&1 || true

"$run" "$(windows_path "$installer")" /S || fail "the installer ended with $?"
for file in a5merge.exe a5merge-cli.exe README.md LICENSE.txt uninstall.exe; do
    [ -f "$dir/$file" ] || fail "$file was not installed"
done
[ -f "$link" ] || fail "no Start-menu entry"
has_key 'HKCU\Software\Classes\Applications\a5merge.exe\SupportedTypes' .ps ||
    fail "a5merge.exe does not say it opens .ps"
has_key 'HKCU\Software\Classes\.ps\OpenWithProgids' a5merge.drawing || fail "not in Open With"
has_key 'HKCU\Software\Classes\a5merge.drawing\DefaultIcon' || fail "Open With shows no icon"
"$run" reg query 'HKCU\Software\Classes\.ps' /ve | grep -q "value not set" ||
    fail "the default program of .ps was taken"
has_key "$key" DisplayName || fail "not in Apps & features"
size=$("$run" reg query "$key" /v EstimatedSize | sed -n 's/.*REG_DWORD *0x\([0-9a-fA-F]*\).*/\1/p')
[ -n "$size" ] && [ "$((0x$size))" -gt 1000 ] || fail "Apps & features shows no size ($size)"
"$run" reg query "$key" /v DisplayIcon | grep -q 'a5merge.exe",0' || fail "no icon in Apps & features"
version=$("$run" "$windows_dir\\a5merge-cli.exe" --version)
[ "$version" = "a5merge-cli @PROJECT_VERSION@" ] || fail "the installed CLI says: $version"

# An upgrade over an older version that runs: closed, every file replaced.
printf 'an older a5merge-cli' >"$dir/a5merge-cli.exe"
printf 'an older README' >"$dir/README.md"
start_window
"$run" "$(windows_path "$installer")" /S || fail "the installer over a running copy ended with $?"
window_closed
cmp -s "$dir/a5merge.exe" "$built_window" || fail "a5merge.exe was not replaced"
cmp -s "$dir/a5merge-cli.exe" "$built_cli" || fail "a5merge-cli.exe was not replaced"
grep -q "a5merge" "$dir/README.md" || fail "README.md was not replaced"

# A CLI at work holds its file: the upgrade stops whole, with status 2, and
# the files stay as they were (with /S, Cancel is the answer to Retry).
work=$(mktemp -d)
mkfifo "$work/hold"
"$run" "$(windows_path "$stand_in")" hold "$windows_dir\\a5merge-cli.exe" \
    "$(windows_path "$work/held")" <"$work/hold" &
holder=$!
exec 3>"$work/hold"
for _ in $(seq 150); do [ -e "$work/held" ] && break; sleep 0.2; done
[ -e "$work/held" ] || fail "the CLI's file could not be held"
status=0
"$run" "$(windows_path "$installer")" /S || status=$?
exec 3>&-
wait "$holder" || true
rm -rf "$work"
[ "$status" -eq 2 ] || fail "the installer over a held CLI ended with $status"
[ -f "$dir/a5merge-cli.exe" ] && [ -f "$dir/a5merge.exe" ] || fail "a held CLI left the install half-way"

# The uninstaller copies itself away and runs from there: wait for its end.
start_window
"$run" "$windows_dir\\uninstall.exe" /S || fail "the uninstaller ended with $?"
window_closed
for _ in $(seq 100); do [ -d "$dir" ] || break; sleep 0.2; done
[ ! -e "$dir" ] || fail "left behind: $(ls -A "$dir")"
[ ! -e "$link" ] || fail "the Start-menu entry was left"
for gone in 'HKCU\Software\Classes\Applications\a5merge.exe' 'HKCU\Software\Classes\a5merge.drawing' \
    'HKCU\Software\Classes\.ps' "$key"; do
    has_key "$gone" && fail "$gone was left"
done
echo "installed, upgraded over a running copy and removed"
