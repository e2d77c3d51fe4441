#!/bin/sh
# The print server the Windows window tests print to: `private-cups.sh start
# FOLDER` runs a cupsd of the tests' own (its configuration, spool and unix
# socket in FOLDER) with one queue, "a5test", a Generic PostScript printer
# whose device is a socket on loopback at the port written to FOLDER/port,
# Letter by default (as wine's own default, so that A4 is only what we ask)
# (the test listens there); FOLDER/server names the server for CUPS_SERVER.
# `private-cups.sh stop FOLDER` ends it by its process id. Without root or
# CUPS nothing starts, and the print tests say why they skip.
set -eu
folder=$2
case $1 in
start)
    rm -rf "$folder"
    mkdir -p "$folder"
    if [ "$(id -u)" -ne 0 ] || [ ! -x /usr/sbin/cupsd ] || [ ! -x /usr/sbin/lpadmin ]; then
        echo "no private cupsd: it needs root, cups and cups-client" >"$folder/why"
        exit 0
    fi
    chmod 0755 "$folder"
    mkdir -p "$folder/spool/tmp" "$folder/cache" "$folder/state" "$folder/log"
    chown lp:lp "$folder/spool" "$folder/spool/tmp"
    cat >"$folder/cupsd.conf" <<END
LogLevel info
Listen $folder/sock
Browsing Off
DefaultAuthType None
WebInterface No
<Location />
  Order allow,deny
  Allow all
</Location>
<Location /admin>
  Order allow,deny
  Allow all
</Location>
<Policy default>
  <Limit All>
    Order deny,allow
  </Limit>
</Policy>
END
    cat >"$folder/cups-files.conf" <<END
ServerRoot $folder
RequestRoot $folder/spool
TempDir $folder/spool/tmp
CacheDir $folder/cache
StateDir $folder/state
ServerBin /usr/lib/cups
DataDir /usr/share/cups
AccessLog $folder/log/access_log
ErrorLog $folder/log/error_log
PageLog $folder/log/page_log
User lp
Group lp
SystemGroup root
END
    /usr/sbin/cupsd -f -c "$folder/cupsd.conf" -s "$folder/cups-files.conf" \
        </dev/null >"$folder/log/stdout" 2>&1 &
    echo $! >"$folder/pid"
    export CUPS_SERVER="$folder/sock"
    for _ in $(seq 100); do [ -S "$folder/sock" ] && break; sleep 0.1; done
    port=$(shuf -i 20000-59999 -n 1)
    for _ in $(seq 20); do
        /usr/sbin/lpadmin -p a5test -E -v "socket://127.0.0.1:$port" \
            -m drv:///sample.drv/generic.ppd -o PageSize=Letter 2>/dev/null && break
        sleep 0.2
    done
    /usr/sbin/lpadmin -d a5test
    echo "$port" >"$folder/port"
    echo "$folder/sock" >"$folder/server"
    ;;
stop)
    if [ -f "$folder/pid" ]; then
        pid=$(cat "$folder/pid")
        kill "$pid" 2>/dev/null || true
        # Gone before its folder goes: it writes there while it ends.
        for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    fi
    rm -rf "$folder"
    ;;
esac
