#!/usr/bin/env bash
# The real tarnwell.exe end to end under wine: a copy of the program tree signs on under a
# virtual display (wine draws the message boxes as X windows, which xdotool reads and
# closes), against the reference server (a Linux program) on loopback, with a recording program
# registered as the user's https handler.
#   wine_e2e.sh <program folder> <test SSO DLL> <recording program> <reference server> <WINEPATH>
# (WINEPATH with "|" between its folders, which ctest cannot pass as ";").
# WINEPREFIX names the prefix to use; the test switches it to report Windows 10 (the user's
# choice route of the browser start).
set -euo pipefail
# What the test leaves running under wine (the prefix's own processes, a started browser) must
# not hold ctest's pipe open: the test runs again with its output in a file, shown at the end.
if [ -z "${WINE_E2E_LOG:-}" ]; then
    WINE_E2E_LOG=$(mktemp)
    export WINE_E2E_LOG
    rc=0
    "$0" "$@" >"$WINE_E2E_LOG" 2>&1 </dev/null || rc=$?
    cat "$WINE_E2E_LOG"
    rm -f "$WINE_E2E_LOG"
    exit $rc
fi
bin=$1
sso_dll=$2
recorder=$3
server=$4
export WINEPATH=${5//|/;}
export LANG=C.UTF-8 LC_ALL=C.UTF-8 WINEDEBUG=-all
# Real windows: the boxes must be drawn to be seen.
unset QT_QPA_PLATFORM

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -f "$WINEPREFIX/drive_c/windows/Oriel/suser.dll"
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "wine_e2e: FAIL: $*" >&2
    exit 1
}

# The display of the test command (tools/test --windows starts the prefix's desktop process on
# it, and that process draws every window of the prefix), or one of our own when run alone.
. "$(dirname "$0")/../../tools/lib/display.sh"
need_display || fail "no virtual display"
[ -z "${xvfb_pid:-}" ] || pids+=("$xvfb_pid")

"$server" --port 0 --port-file "$work/port" >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.1; done
[ -s "$work/port" ] || fail "the reference server did not start"
port=$(cat "$work/port")
base="https://127.0.0.1:$port"

wine winecfg -v win10 || fail "winecfg cannot make the prefix report Windows 10"
user_choice='HKCU\Software\Microsoft\Windows\Shell\Associations\UrlAssociations\https\UserChoice'
wine reg add "$user_choice" /v ProgId /d TnwE2EBrowser /f >/dev/null
wine reg add 'HKLM\Software\Classes\TnwE2EBrowser\shell\open\command' /ve \
    /d "\"Z:$recorder\" \"Z:$work/record\" %1" /f >/dev/null

# A fresh copy of the program tree, its settings pointing at the server.
fresh_app() {
    rm -rf "$work/app" "$work/record"
    mkdir -p "$work/app"
    cp -r "$bin/tarnwell.exe" "$bin/quillmark.dll" "$bin/config" "$bin/translator" "$work/app/"
    printf '[server]\r\nip=127.0.0.1\r\nport=%s\r\n' "$port" >"$work/app/config/server.ini"
}

# Runs the agent; closes each box whose title is expected, in order. Sets rc and titles.
run_agent() {
    local expected=("$@") title id
    titles=()
    wine "$work/app/tarnwell.exe" &
    local agent=$!
    for title in "${expected[@]}"; do
        id=""
        # A fresh prefix reads the machine's fonts before its first window: allow for that.
        for _ in $(seq 1200); do
            id=$(xdotool search --onlyvisible --name "^$title\$" 2>/dev/null | head -1) && [ -n "$id" ] && break
            kill -0 "$agent" 2>/dev/null || break
            sleep 0.1
        done
        [ -n "$id" ] || break
        titles+=("$title")
        # A key that reaches the box before it has the focus is lost: press again until it goes.
        for _ in $(seq 20); do
            xdotool windowactivate --sync "$id" key Return 2>/dev/null || xdotool key --window "$id" Return 2>/dev/null || true
            sleep 0.5
            xdotool search --onlyvisible --name "^$title\$" 2>/dev/null | grep -qx "$id" || break
        done
    done
    # An agent that still runs now waits for a box nobody will close.
    for _ in $(seq 300); do
        kill -0 "$agent" 2>/dev/null || break
        sleep 0.1
    done
    if kill -0 "$agent" 2>/dev/null; then
        kill "$agent"
        fail "the agent still runs after the boxes ${titles[*]} (expected: ${expected[*]})"
    fi
    rc=0
    wait "$agent" || rc=$?
}

# The recorded start of the browser: its arguments after the record's name, one per line.
browser_arguments() {
    for _ in $(seq 100); do [ -f "$work/record" ] && break; sleep 0.1; done
    [ -f "$work/record" ] || return 0
    python3 -c 'import sys, urllib.parse
for line in open(sys.argv[1]).read().split("\n")[3:-1]:
    print(urllib.parse.unquote(line))' "$work/record"
}

echo "== the SSO DLL returns a user: the browser gets the sign-on address"
fresh_app
mkdir -p "$WINEPREFIX/drive_c/windows/Oriel"
cp "$sso_dll" "$WINEPREFIX/drive_c/windows/Oriel/suser.dll"
export TNW_FAKE_SSO_USER=alice
run_agent
unset TNW_FAKE_SSO_USER
rm -f "$WINEPREFIX/drive_c/windows/Oriel/suser.dll"
[ "$rc" -eq 1 ] || fail "exit code $rc, not 1"
address=$(browser_arguments)
case "$address" in
    "$base/signin/sso?param="*) ;;
    *) fail "the browser got '$address'" ;;
esac
param=${address#"$base/signin/sso?param="}
plain=$(printf '%s' "$param" | tr -- '-_' '+/' | base64 -d |
    openssl enc -d -aes-128-cbc -K 37717769726c2e7a656e626f2e6b6174 -iv 37717769726c2e7a656e626f2e6b6174) ||
    fail "the parameter does not decrypt: $param"
case "$plain" in
    "userId=alice&currentTime="*) ;;
    *) fail "the parameter reads '$plain'" ;;
esac
stamp=${plain#userId=alice&currentTime=}
echo "parameter: $plain"
[ -n "$stamp" ] || fail "no time in the parameter"
# The log lies in <appdir>\logs, its lines end in CR LF.
log=$(ls "$work/app/logs/"*_tarnwell.log)
grep -qE $'Agent Start \\*+\r$' "$log" || fail "no CR LF banner line in $log"

echo "== no SSO DLL: GetUserNameExW fails, the auth box (in Korean), then the failure address"
fresh_app
run_agent "인증"
[ "$rc" -eq 255 ] || fail "exit code $rc, not -1"
[ "${titles[*]}" = "인증" ] || fail "boxes: ${titles[*]}"
address=$(browser_arguments)
[ "$address" = "$base" ] || fail "the browser got '$address', not '$base'"
grep -q 'AD Server not found' "$work/app/logs/"*_tarnwell.log || fail "no 'AD Server not found' line"

echo "== the day's name in logs\\ is taken by a folder: the lines go to the user's own folder"
fresh_app
day_name="$(date +%F)_tarnwell.log"
mkdir -p "$work/app/logs/$day_name"
own_logs=$(wine cmd /c echo %LOCALAPPDATA% | tr -d '\r')
own_logs=$(winepath -u "$own_logs\\Tarnwell\\logs")
rm -f "$own_logs/$day_name"
run_agent "인증"
[ "$rc" -eq 255 ] || fail "exit code $rc, not -1"
address=$(browser_arguments)
[ "$address" = "$base" ] || fail "the browser got '$address', not '$base'"
grep -q 'AD Server not found' "$own_logs/$day_name" || fail "no 'AD Server not found' line in $own_logs"
[ -z "$(ls -A "$work/app/logs/$day_name")" ] || fail "something was written into the folder in logs\\"
rm -f "$own_logs/$day_name"

echo "== no translator folder: the Translator box and nothing else"
fresh_app
rm -rf "$work/app/translator"
run_agent "Translator"
[ "$rc" -eq 255 ] || fail "exit code $rc, not -1"
[ "${titles[*]}" = "Translator" ] || fail "boxes: ${titles[*]}"
sleep 1
[ ! -f "$work/record" ] || fail "a browser was started"
echo "wine_e2e: all passed"
