#!/usr/bin/env bash
# The real tarnwell.exe end to end under wine: a copy of the program tree signs on under a
# virtual display (wine draws the message boxes as X windows, which xdotool reads and
# closes), against the reference server (a Linux program) on loopback, with a recording program
# registered as the user's https handler.
#   wine_e2e.sh <program folder> <test SSO DLL> <recording program> <reference server> <WINEPATH>
#               <test SSO DLL importing a helper> <its helper DLL> <DLL that records its loads>
#               <folder of the x86 test SSO DLLs>
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
sso_dll_with_helper=$6
sso_helper=$7
planted_module=$8
x86=$9
oriel="$WINEPREFIX/drive_c/windows/Oriel"
# Where the crypto library of a cross build once looked for its configuration, resolved on the
# current drive: a folder any user may create.
planted="$WINEPREFIX/drive_c/opt/win64/openssl"
export LANG=C.UTF-8 LC_ALL=C.UTF-8 WINEDEBUG=-all
# Real windows: the boxes must be drawn to be seen.
unset QT_QPA_PLATFORM

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -f "$oriel/suser.dll" "$oriel/$(basename "$sso_helper")"
    pkill -f 'tarnwell-sso32' 2>/dev/null || true
    rm -rf "$work" "$WINEPREFIX/drive_c/opt"
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
    cp -r "$bin/tarnwell.exe" "$bin/tarnwell-sso32.exe" "$bin/quillmark.dll" "$bin/config" \
        "$bin/translator" "$work/app/"
    printf '[server]\r\nip=127.0.0.1\r\nport=%s\r\n' "$port" >"$work/app/config/server.ini"
}

# Runs the agent with the arguments agent_args, in the folder agent_folder (the test's own when
# unset); closes each box whose title is expected, in order. Sets rc and titles.
agent_args=()
run_agent() {
    local expected=("$@") title id
    titles=()
    (cd "${agent_folder:-$work}" && exec wine "$work/app/tarnwell.exe" "${agent_args[@]}") &
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

# The decrypted parameter of the recorded sign-on address, in plain.
signed_on_parameter() {
    local address param
    address=$(browser_arguments)
    case "$address" in
        "$base/signin/sso?param="*) ;;
        *) fail "the browser got '$address'" ;;
    esac
    param=${address#"$base/signin/sso?param="}
    plain=$(printf '%s' "$param" | tr -- '-_' '+/' | base64 -d |
        openssl enc -d -aes-128-cbc -K 37717769726c2e7a656e626f2e6b6174 -iv 37717769726c2e7a656e626f2e6b6174) ||
        fail "the parameter does not decrypt: $param"
    echo "parameter: $plain"
}

# A configuration for OpenSSL in C:\opt that names a provider module recording its loads. The
# Windows openssl command, told to read it, shows that it would load the module.
mkdir -p "$planted/ssl" "$planted/lib/ossl-modules"
cp "$planted_module" "$planted/lib/ossl-modules/planted.dll"
printf '%s\r\n' 'openssl_conf = planted_init' '[planted_init]' 'providers = planted_providers' \
    '[planted_providers]' 'planted = planted_provider' '[planted_provider]' \
    'module = C:/opt/win64/openssl/lib/ossl-modules/planted.dll' 'activate = 1' \
    >"$planted/ssl/openssl.cnf"
openssl_bin=$(echo "$WINEPATH" | tr ';' '\n' | grep -i 'openssl' | head -1)
openssl_bin=${openssl_bin#[Zz]:}
openssl_exe=${openssl_bin//\\//}/openssl.exe
if [ -f "$openssl_exe" ]; then
    OPENSSL_CONF='C:\opt\win64\openssl\ssl\openssl.cnf' wine "$openssl_exe" list -providers >/dev/null 2>&1 || true
    [ -f "$planted/lib/ossl-modules/planted.dll.loaded" ] ||
        fail "the planted configuration does not load its module: the check below would prove nothing"
    rm -f "$planted/lib/ossl-modules/planted.dll.loaded"
fi

echo "== the SSO DLL returns a user: the browser gets the sign-on address; Qt's options after"
echo "   the link, and OpenSSL's configuration planted in C:\\opt with C:\\ as the current folder,"
echo "   change nothing"
fresh_app
mkdir -p "$oriel"
cp "$sso_dll" "$oriel/suser.dll"
export TNW_FAKE_SSO_USER=alice
agent_args=("tarnwell://portal/보고서/오늘" -platform bogus -platformpluginpath 'C:\nowhere'
    -stylesheet 'C:\nowhere\style.qss')
# The tests' environment names an empty configuration: without it, an OpenSSL that loads one by
# itself looks in C:\opt.
OPENSSL_CONF_SAVED=${OPENSSL_CONF-}
unset OPENSSL_CONF
agent_folder="$WINEPREFIX/drive_c"
run_agent
unset TNW_FAKE_SSO_USER agent_folder
[ -z "$OPENSSL_CONF_SAVED" ] || export OPENSSL_CONF=$OPENSSL_CONF_SAVED
agent_args=()
rm -f "$oriel/suser.dll"
[ "$rc" -eq 1 ] || fail "exit code $rc, not 1"
signed_on_parameter
case "$plain" in
    "userId=alice&currentTime="*"&reqURI="*) ;;
    *) fail "the parameter reads '$plain'" ;;
esac
stamp=${plain#userId=alice&currentTime=}
stamp=${stamp%%&reqURI=*}
[ -n "$stamp" ] || fail "no time in the parameter"
path=$(python3 -c 'import sys, urllib.parse; print(urllib.parse.unquote(sys.argv[1]))' "${plain##*&reqURI=}")
[ "$path" = "/보고서/오늘" ] || fail "the requested page is '$path', not '/보고서/오늘'"
[ ! -e "$planted/lib/ossl-modules/planted.dll.loaded" ] ||
    fail "the agent loaded the module named by the configuration planted in C:\\opt"
# The log lies in <appdir>\logs, its lines end in CR LF.
log=$(ls "$work/app/logs/"*_tarnwell.log)
grep -qE $'Agent Start \\*+\r$' "$log" || fail "no CR LF banner line in $log"

echo "== an SSO DLL that imports a helper DLL beside it: the client's user"
fresh_app
mkdir -p "$oriel"
cp "$sso_dll_with_helper" "$oriel/suser.dll"
cp "$sso_helper" "$oriel/"
export TNW_FAKE_SSO_USER=bob
run_agent
[ "$rc" -eq 1 ] || fail "exit code $rc, not 1"
signed_on_parameter
case "$plain" in
    "userId=bob&currentTime="*) ;;
    *) fail "the parameter reads '$plain'" ;;
esac

echo "== the same DLL without its helper: the account name, after a line that says why"
fresh_app
rm -f "$oriel/$(basename "$sso_helper")"
run_agent "인증"
unset TNW_FAKE_SSO_USER
rm -f "$oriel/suser.dll"
[ "$rc" -eq 255 ] || fail "exit code $rc, not -1"
log=$(ls "$work/app/logs/"*_tarnwell.log)
grep -q 'error 126: a DLL it needs is missing' "$log" || fail "no line that gives error 126 in $log"
grep -q 'AD Server not found' "$log" || fail "no 'AD Server not found' line"

# A 32-bit client library: the 32-bit helper beside the agent loads it. Wine runs 32-bit
# programs only with its 32-bit half (wine32:i386) installed; the helper without arguments ends
# with its usage code 2.
sso32_rc=0
wine "$bin/tarnwell-sso32.exe" >/dev/null 2>&1 || sso32_rc=$?
if [ "$sso32_rc" -ne 2 ]; then
    echo "== SKIPPED: the 32-bit client rows: wine runs no 32-bit program here (exit code $sso32_rc; install wine32:i386)"
else
    # No helper outlives the agent.
    no_helper_left() {
        sleep 0.5
        # An ended process whose parent is gone stays a zombie where nothing reaps it: not a
        # helper that runs.
        local running
        running=$(ps -eo stat=,args= | awk '$1 !~ /^Z/ && /tarnwell-sso32/ && !/awk/')
        [ -z "$running" ] || fail "$1: a helper still runs: $running"
    }
    # sso32_fails <label> <log line>: the agent ends with the Part's box, the failure address
    # and the line, and no helper is left.
    sso32_fails() {
        local started=$SECONDS
        run_agent "인증"
        [ "$rc" -eq 255 ] || fail "$1: exit code $rc, not -1"
        [ "${titles[*]}" = "인증" ] || fail "$1: boxes: ${titles[*]}"
        [ "$(browser_arguments)" = "$base" ] || fail "$1: the browser got '$(browser_arguments)'"
        grep -qF "$2" "$work/app/logs/"*_tarnwell.log || fail "$1: no '$2' line"
        [ $((SECONDS - started)) -lt 60 ] || fail "$1: took $((SECONDS - started)) s"
        no_helper_left "$1"
    }
    # sso32_user <user>: signed on as that user, no reason line, no helper left.
    sso32_user() {
        export TNW_FAKE_SSO_USER=$1
        run_agent
        unset TNW_FAKE_SSO_USER
        [ "$rc" -eq 1 ] || fail "32-bit client, user $1: exit code $rc, not 1"
        signed_on_parameter
        case "$plain" in
            "userId=$1&currentTime="*) ;;
            *) fail "32-bit client: the parameter reads '$plain', not user $1" ;;
        esac
        ! grep -qE 'failed|not found' "$work/app/logs/"*_tarnwell.log || fail "32-bit client: a failure line"
        no_helper_left "user $1"
    }

    echo "== a 32-bit client library returns a user (ASCII, then Korean): the helper's user signs on"
    for user in alice32 "김민준"; do
        fresh_app
        cp "$x86/libtnw_fake_suser.dll" "$oriel/suser.dll"
        sso32_user "$user"
    done

    echo "== a 32-bit client that imports a DLL beside it: its user"
    fresh_app
    cp "$x86/libtnw_fake_suser_with_helper.dll" "$oriel/suser.dll"
    cp "$x86/extra/"*.dll "$oriel/"
    sso32_user bob32
    rm -f "$oriel/$(basename "$sso_helper")"

    echo "== a 32-bit client whose agent does not run: its box, and no user query"
    fresh_app
    cp "$x86/libtnw_fake_suser.dll" "$oriel/suser.dll"
    export TNW_FAKE_SSO_RUNNING=0 TNW_FAKE_SSO_TRACE='C:\sso-trace.txt'
    rm -f "$WINEPREFIX/drive_c/sso-trace.txt"
    sso32_fails "not running" "SSO Agent Not Running"
    unset TNW_FAKE_SSO_RUNNING TNW_FAKE_SSO_TRACE
    [ "$(tr -d '\r' <"$WINEPREFIX/drive_c/sso-trace.txt")" = IsSafePCRunning ] ||
        fail "not running: the calls were $(cat "$WINEPREFIX/drive_c/sso-trace.txt")"

    echo "== 32-bit clients that fail: each the Part's box and line, in bounded time, no helper left"
    for row in "no_running|||SSO Agent Not Running" \
        "no_user|||Get Current User Info Get Proc Address Failed" \
        "|TNW_FAKE_SSO_RESULT=5||User Information is unkown" \
        "|TNW_FAKE_SSO_USER=$(printf '%0260d' 0)||User Information is unkown" \
        "|TNW_FAKE_SSO_CRASH=user|eve|SSO query failed: the 32-bit SSO helper ended" \
        "|TNW_FAKE_SSO_HANG=running|eve|SSO query failed: the 32-bit SSO helper did not answer"; do
        IFS='|' read -r variant setting user line <<<"$row"
        fresh_app
        cp "$x86/libtnw_fake_suser${variant:+_$variant}.dll" "$oriel/suser.dll"
        [ -z "$user" ] || export TNW_FAKE_SSO_USER=$user
        [ -z "$setting" ] || export "${setting?}"
        sso32_fails "${variant:-$setting}" "$line"
        unset TNW_FAKE_SSO_USER TNW_FAKE_SSO_RESULT TNW_FAKE_SSO_CRASH TNW_FAKE_SSO_HANG
    done

    echo "== the helper missing beside the agent, one planted in the current folder: the reason,"
    echo "   the account fallback, and the planted program never runs"
    fresh_app
    rm "$work/app/tarnwell-sso32.exe"
    mkdir -p "$work/plant"
    cp "$recorder" "$work/plant/tarnwell-sso32.exe"
    cp "$x86/libtnw_fake_suser.dll" "$oriel/suser.dll"
    export TNW_FAKE_SSO_USER=mallory
    agent_folder="$work/plant"
    run_agent "인증"
    unset TNW_FAKE_SSO_USER agent_folder
    [ "$rc" -eq 255 ] || fail "helper missing: exit code $rc, not -1"
    log=$(ls "$work/app/logs/"*_tarnwell.log)
    grep -q 'a 32-bit library, and the 32-bit helper .*tarnwell-sso32.exe is missing' "$log" ||
        fail "helper missing: no reason line in $log"
    grep -q 'AD Server not found' "$log" || fail "helper missing: no account fallback"
    [ "$(ls -A "$work/plant")" = tarnwell-sso32.exe ] || fail "the planted helper ran: $(ls -A "$work/plant")"
    rm -f "$oriel/suser.dll"
fi

echo "== no SSO DLL: GetUserNameExW fails, the auth box (in Korean), then the failure address"
fresh_app
run_agent "인증"
[ "$rc" -eq 255 ] || fail "exit code $rc, not -1"
[ "${titles[*]}" = "인증" ] || fail "boxes: ${titles[*]}"
address=$(browser_arguments)
[ "$address" = "$base" ] || fail "the browser got '$address', not '$base'"
grep -q 'AD Server not found' "$work/app/logs/"*_tarnwell.log || fail "no 'AD Server not found' line"
# A missing library is said once, without a reason.
! grep -q 'failed with error' "$work/app/logs/"*_tarnwell.log || fail "a reason for a missing library"

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
