# The sign-on journey in a real browser, in a private environment under one folder. Sourced,
# after tools/lib/display.sh, by tools/demo --browser and the browser test.
#
#   browser_prepare KIND WORK CERT ORIGIN AGENT
#       KIND chromium or firefox; WORK an empty folder that holds HOME, the XDG folders and the
#       profile; CERT the PEM a client must trust (the server's --cert-file); ORIGIN the
#       server's https://HOST:PORT, allowed to open tarnwell: links without asking; AGENT the
#       command (words) that the private desktop entry of tarnwell: links runs before %u.
#       Sets browser_env (an env(1) argument list) and browser_command.
#   browser_start URL        starts the browser (DISPLAY from the caller); sets browser_pid
#   browser_window TITLE SECONDS   waits for a visible window whose title starts with TITLE;
#                                  prints its id
#   browser_click ID SECONDS CHECK...
#                            clicks in the middle of the window's page, as a person would,
#                            until the command CHECK succeeds within SECONDS of a click (at
#                            most 4 clicks): a click that lands before the page takes input
#                            is lost
#   browser_stop             ends the browser, its session bus and what they started
#
# As root Chromium runs only with --no-sandbox: that flag is in this private entry alone.

browser_prepare() {
    local kind=$1 work=$2 cert=$3 origin=$4 agent=$5
    local home="$work/home" profile="$work/profile"
    mkdir -p "$home" "$work/data/applications" "$work/config" "$work/runtime" "$work/cache" "$profile"
    chmod 700 "$work/runtime"
    browser_kind=$kind browser_pids=()
    case "$kind" in
        chromium)
            browser_command="chromium --no-sandbox --user-data-dir=$profile --no-first-run"
            browser_command+=" --no-default-browser-check --password-store=basic"
            browser_command+=" --disable-background-networking --disable-component-update"
            browser_command+=" --window-position=0,0 --window-size=1024,768"
            browser_command+=" --remote-debugging-port=0"
            # Chromium trusts what the user's NSS database holds.
            mkdir -p "$home/.pki/nssdb"
            certutil -d "sql:$home/.pki/nssdb" -N --empty-password
            certutil -d "sql:$home/.pki/nssdb" -A -t "C,," -n tarnwell-reference -i "$cert"
            mkdir -p "$profile/Default"
            printf '{"protocol_handler":{"allowed_origin_protocol_pairs":{"%s":{"tarnwell":true}}}}\n' \
                "$origin" >"$profile/Default/Preferences"
            ;;
        firefox)
            browser_command="firefox-esr --profile $profile"
            # Firefox trusts what its profile's own database holds.
            certutil -d "sql:$profile" -N --empty-password
            certutil -d "sql:$profile" -A -t "C,," -n tarnwell-reference -i "$cert"
            printf '{"schemes":{"tarnwell":{"action":4,"ask":false}}}\n' >"$profile/handlers.json"
            local pref
            for pref in 'network.protocol-handler.external.tarnwell", true' \
                'network.protocol-handler.warn-external.tarnwell", false' \
                'security.external_protocol_requires_permission", false' \
                'browser.startup.page", 0' 'browser.aboutwelcome.enabled", false' \
                'browser.shell.checkDefaultBrowser", false' \
                'datareporting.policy.dataSubmissionEnabled", false' \
                'toolkit.telemetry.reportingpolicy.firstRun", false' \
                'browser.startup.homepage_override.mstone", "ignore"' \
                'app.update.enabled", false' 'browser.safebrowsing.malware.enabled", false' \
                'browser.safebrowsing.phishing.enabled", false' \
                'network.captive-portal-service.enabled", false' \
                'network.connectivity-service.enabled", false'; do
                echo "user_pref(\"$pref);" >>"$profile/user.js"
            done
            ;;
        *) echo "browser: chromium or firefox, not $kind" >&2; return 2 ;;
    esac
    # The desktop: this browser opens https (the agent's sign-on address, in a new tab of the
    # running one), the package's entry, pointed at AGENT, opens tarnwell: links.
    cat >"$work/data/applications/journey-browser.desktop" <<DESKTOP
[Desktop Entry]
Type=Application
Name=Journey browser
Exec=$browser_command %u
MimeType=x-scheme-handler/http;x-scheme-handler/https;
DESKTOP
    sed "s|^Exec=/opt/tarnwell/tarnwell %u|Exec=$agent %u|" \
        "$(dirname "${BASH_SOURCE[0]}")/../../packaging/linux/tarnwell.desktop" \
        >"$work/data/applications/tarnwell.desktop"
    cat >"$work/config/mimeapps.list" <<LIST
[Default Applications]
x-scheme-handler/https=journey-browser.desktop
x-scheme-handler/http=journey-browser.desktop
x-scheme-handler/tarnwell=tarnwell.desktop
LIST
    # A second Firefox start finds the first through the session bus; without one it hangs.
    local bus
    bus=$(dbus-daemon --session --fork --print-address=1 --print-pid=1) || return 1
    browser_pids+=("$(echo "$bus" | sed -n 2p)")
    browser_env=(-u BROWSER -u XDG_CURRENT_DESKTOP -u WAYLAND_DISPLAY -u DESKTOP_SESSION
        HOME="$home" XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data"
        XDG_DATA_DIRS="$work/data:/usr/share" XDG_CACHE_HOME="$work/cache"
        XDG_RUNTIME_DIR="$work/runtime" DBUS_SESSION_BUS_ADDRESS="$(echo "$bus" | sed -n 1p)"
        LANG=C.UTF-8 LC_ALL=C.UTF-8 MOZ_CRASHREPORTER_DISABLE=1)
}

browser_start() {
    # In a process group of its own, so that browser_stop ends the browser's helpers too.
    # shellcheck disable=SC2086
    setsid env "${browser_env[@]}" $browser_command "$1" >"${browser_log:-/dev/null}" 2>&1 &
    browser_pid=$!
    browser_pids+=("-$browser_pid")
}

browser_window() {
    local title=$1 deadline=$((SECONDS + $2)) id
    while [ $SECONDS -lt $deadline ]; do
        for id in $(xdotool search --onlyvisible --name . 2>/dev/null); do
            case "$(xdotool getwindowname "$id" 2>/dev/null)" in
                "$title"*) echo "$id"; return 0 ;;
            esac
        done
        sleep 0.2
    done
    return 1
}

browser_click() {
    local id=$1 wait=$2 WIDTH HEIGHT _ deadline
    shift 2
    eval "$(xdotool getwindowgeometry --shell "$id" | grep -E '^(WIDTH|HEIGHT)=')"
    for _ in 1 2 3 4; do
        xdotool mousemove --window "$id" $((WIDTH / 2)) $((HEIGHT * 3 / 5)) click 1
        deadline=$((SECONDS + wait))
        while [ $SECONDS -lt $deadline ]; do
            "$@" && return 0
            sleep 0.1
        done
    done
    return 1
}

browser_stop() {
    local pid
    for pid in "${browser_pids[@]}"; do kill -- "$pid" 2>/dev/null || true; done
    [ -z "${browser_pid:-}" ] || wait "$browser_pid" 2>/dev/null || true
    browser_pid=""
    browser_pids=()
}
