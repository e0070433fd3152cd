#!/usr/bin/env bash
# The whole journey in Chromium and in Firefox ESR: the portal page of the reference server, a
# click on its "Sign on" link, the copy of the agent that the link's desktop entry starts, the
# sign-on in a new tab and the page it leads to. Then a link that each browser rewrites before
# handing it on: what it passes, and the reqURI the server reads. Every wait has a deadline.
#   browser_e2e.sh PROGRAM REFERENCE_SERVER CCACHE_WRITER
set -euo pipefail
program=$1 server=$2 ccache_writer=$3
here=$(cd "$(dirname "$0")/../.." && pwd)
. "$here/tools/lib/display.sh"
. "$here/tools/lib/browser.sh"

work=$(mktemp -d)
server_pid=""
cleanup() {
    browser_stop
    [ -z "$server_pid" ] || kill "$server_pid" 2>/dev/null || true
    stop_display
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*" >&2
    echo "server said:" >&2
    sed 's/^/  /' "$work/server.out" >&2
    exit 1
}

start_display
export DISPLAY=":$display"

"$server" --port 0 --port-file "$work/port" --cert-file "$work/authority.pem" >"$work/server.out" 2>&1 &
server_pid=$!
for _ in $(seq 200); do [ -s "$work/authority.pem" ] && [ -s "$work/port" ] && break; sleep 0.05; done
[ -s "$work/authority.pem" ] && [ -s "$work/port" ] || fail "the reference server did not start"
origin="https://127.0.0.1:$(cat "$work/port")"

# A copy of the agent with its library and translation, so that its config/ and logs/ are the
# test's own; the entry runs it through a script that notes the link it was given (an ASan build
# under a real display needs the X libraries' suppressions).
mkdir -p "$work/app/config" "$work/app/translator"
cp "$program" "$(dirname "$program")"/libquillmark.so* "$work/app/"
cp "$(dirname "$program")"/translator/*.qm "$work/app/translator/"
printf '[server]\nip=127.0.0.1\nport=%s\nenable_certificate_verification=false\n' \
    "$(cat "$work/port")" >"$work/app/config/server.ini"
"$ccache_writer" "FILE:$work/krb5cc" demo.user@EXAMPLE.COM
cat >"$work/agent" <<SH
#!/bin/sh
printf '%s\n' "\$1" >>"$work/links"
KRB5CCNAME="FILE:$work/krb5cc" LD_LIBRARY_PATH="$work/app" \\
    ASAN_OPTIONS="\${ASAN_OPTIONS:+\$ASAN_OPTIONS:}suppressions=$here/tests/e2e/x11_asan.supp" \\
    exec "$work/app/tarnwell" "\$1"
SH
chmod +x "$work/agent"

# Waits for a line of the server's that starts with text, after the first skip lines.
server_line() {
    local text=$1 skip=$2 deadline=$((SECONDS + $3))
    while [ $SECONDS -lt $deadline ]; do
        tail -n "+$((skip + 1))" "$work/server.out" | grep -F -- "$text" >/dev/null && return 0
        sleep 0.1
    done
    return 1
}

# journey KIND PAGE LINK REQURI: the portal at PAGE (as sent), the link the browser must pass,
# the reqURI the server must read (what the agent makes of the link).
journey() {
    local kind=$1 page=$2 link=$3 req_uri=$4 run="$work/$1-$RANDOM" skip
    mkdir "$run"
    rm -f "$work/links"
    skip=$(wc -l <"$work/server.out")
    browser_log="$run/browser.log"
    browser_prepare "$kind" "$run" "$work/authority.pem" "$origin" "$work/agent"
    browser_start "$origin$page"
    local window
    window=$(browser_window Portal 60) || fail "$kind: no Portal window"
    # The wrapper notes the link as soon as the browser has handed it on.
    browser_click "$window" 5 test -s "$work/links" || fail "$kind: the click started no agent"
    server_line "sign-on received: userId=\"demo.user\"" "$skip" 60 || fail "$kind: no sign-on"
    [ "$(cat "$work/links")" = "$link" ] || fail "$kind passed $(cat "$work/links"), not $link"
    server_line "sign-on received: userId=\"demo.user\" currentTime=" "$skip" 1
    tail -n "+$((skip + 1))" "$work/server.out" | grep "^sign-on received: .* reqURI=\"$req_uri\"\$" >/dev/null ||
        fail "$kind: reqURI is not $req_uri"
    server_line "signed-on page: userId=\"demo.user\"" "$skip" 30 || fail "$kind: no signed-on page"
    browser_window "Signed on as demo.user" 30 >/dev/null || fail "$kind: no signed-on window"
    # The address the agent handed the browser, sent again: a replay.
    local address code
    address=$(grep -ho 'full path :  *"[^"]*"' "$work/app/logs/"*.log | tail -1 | cut -d'"' -f2)
    skip=$(wc -l <"$work/server.out")
    code=$(curl -s --cacert "$work/authority.pem" -o /dev/null -w '%{http_code}' "$address") || true
    [ "$code" = 403 ] && server_line "already accepted (a replay)" "$skip" 10 ||
        fail "$kind: the replay of $address got $code"
    echo "$kind: $link -> reqURI=\"$req_uri\", window \"Signed on as demo.user\", replay refused"
    browser_stop
}

# The portal's link for /a b"c/경로 holds the blank, the quote and the Korean as they are; the
# browser encodes them, and the agent decodes the path again.
rewritten=/a%20b%22c/%EA%B2%BD%EB%A1%9C
journey chromium /welcome tarnwell://portal/welcome /welcome
journey chromium "$rewritten" "tarnwell://portal$rewritten" '/a b\\"c/경로'
journey firefox /welcome tarnwell://portal/welcome /welcome
journey firefox "$rewritten" "tarnwell://portal$rewritten" '/a b\\"c/경로'

