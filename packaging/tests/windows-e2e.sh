#!/usr/bin/env bash
# End-to-end check of the two Windows packages under wine: for the NSIS installer and for the
# MSI, signed with a throwaway certificate whose every signature it checks (the packages', and
# those of the files inside them), each in a fresh wine prefix under Xvfb, it refuses settings
# that no key allows (nothing written), installs silently with the server's address and port
# given as options (properties), checks the files, the link handler's keys and the rights given
# to logs\, clicks a tarnwell: link (wine start) so that the installed agent signs
# on to the reference server on loopback through a recording browser, checks the day's log,
# reinstalls (upgrades) over an edited server.ini, and uninstalls silently; then imports the two
# .reg files. The version resources of the program and its library must hold the project's
# version. What the packages must set up comes from packaging/windows/package_facts.cmake.
# Everything it starts is stopped on every exit.
#
#   packaging/tests/windows-e2e.sh [--build-dir=DIR]    default: build-win (tools/package-windows)
set -euo pipefail

src=$(cd "$(dirname "$0")/../.." && pwd)
test_name=windows-e2e
. "$src/tools/lib/display.sh"
. "$src/packaging/tests/common.sh"
build="$src/build-win"
for arg in "$@"; do
    case "$arg" in
    --build-dir=*) build=${arg#--build-dir=} ;;
    *) echo "usage: $0 [--build-dir=DIR]" >&2; exit 2 ;;
    esac
done

link=tarnwell://portal/welcome
link_path=/welcome
banner='****************** TarnwellV4 Selvane Agent Start ******************'
key_hex=37717769726c2e7a656e626f2e6b6174 # the agent's built-in key, also its IV
install_dir_windows='C:\Program Files\Tarnwell'
handler_key='HKLM\Software\Classes\tarnwell'
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tarnwell'

work="" xvfb_pid="" server_pid="" display=""
export WINEDEBUG=-all
# The user the SSO stand-in returns (the environment reaches the Windows programs).
export TNW_FAKE_SSO_USER=alice
# No Mono or Gecko prompts on a fresh prefix.
export WINEDLLOVERRIDES="mscoree,mshtml="

stop_prefix() { if [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ]; then wineserver -k 2>/dev/null || true; fi; }

cleanup() {
    local status=$?
    set +e
    stop_prefix
    stop_pid "$server_pid"
    stop_pid "$xvfb_pid"
    end_cleanup $status
}

preflight() {
    local tool
    for tool in cmake wine wineboot wineserver Xvfb xdpyinfo xdotool openssl base64 curl \
        x86_64-w64-mingw32-gcc-posix i686-w64-mingw32-gcc-posix osslsigncode msiextract msiinfo 7z; do
        command -v "$tool" >/dev/null || fail "missing tool: $tool"
    done
    work=$(mktemp -d /tmp/tarnwell-win-e2e.XXXXXX)
    /usr/bin/python3 -c 'import pefile' 2>/dev/null || fail "missing: python3-pefile"
    facts=$(cmake -P "$src/packaging/windows/package_facts.cmake" 2>&1) ||
        fail "package_facts.cmake: $facts"
}

# A throwaway certificate authority and a code-signing certificate issued by it, in a .pfx.
make_signing_key() {
    sign_password="throwaway $RANDOM"
    printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' \
        >"$work/signing.ext"
    logged openssl.log "openssl: the signing key" sh -c '
        cd "$1" &&
        openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 \
            -subj "/CN=Tarnwell test CA" -addext "basicConstraints=critical,CA:TRUE" \
            -addext "keyUsage=critical,keyCertSign,cRLSign" &&
        openssl req -newkey rsa:2048 -nodes -keyout signing.key -out signing.csr \
            -subj "/O=Tarnwell/CN=Tarnwell test signing" &&
        openssl x509 -req -in signing.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 \
            -extfile signing.ext -out signing.pem &&
        openssl pkcs12 -export -in signing.pem -inkey signing.key -out signing.pfx \
            -passout "pass:$2"' sh "$work" "$sign_password"
}

check_signature() {
    osslsigncode verify -CAfile "$work/ca.pem" -in "$1" >"$work/verify.log" 2>&1 ||
        { cat "$work/verify.log"; fail "no valid signature on $1"; }
}

# check_signed_files <label> <folder>: every .exe and .dll of the install tree is in the
# folder, signed.
check_signed_files() {
    local name=$1 folder=$2 file count=0
    while IFS= read -r file; do
        [ -f "$folder/$file" ] || fail "$name: no $file"
        check_signature "$folder/$file"
        count=$((count + 1))
    done < <(cd "$stage" && find . -type f \( -iname '*.exe' -o -iname '*.dll' \))
    [ "$count" -gt 10 ] || fail "$name: only $count programs and libraries"
    say "$name: $count programs and libraries signed"
}

check_signatures() {
    check_signature "$nsis_package"
    check_signature "$msi_package"
    check_signed_files "install tree" "$stage"
    logged msiextract.log "msiextract" msiextract -C "$work/msi-files" "$msi_package"
    check_signed_files "inside the MSI" "$work/msi-files/Tarnwell"
    logged 7z.log "7z x" 7z x -y "-o$work/nsis-files" "$nsis_package"
    check_signed_files "inside the installer" "$work/nsis-files"
}

# check_version_info <file>: its version resource, read back, names the product and holds the
# project's version as four numbers; the program's also an icon and the asInvoker manifest.
check_version_info() {
    local file=$1 out line
    out=$(/usr/bin/python3 - "$file" <<'PY'
import sys

import pefile

pe = pefile.PE(sys.argv[1])
fixed = pe.VS_FIXEDFILEINFO[0]
four = lambda ms, ls: f"{ms >> 16}.{ms & 0xffff}.{ls >> 16}.{ls & 0xffff}"
print("fixed FileVersion=" + four(fixed.FileVersionMS, fixed.FileVersionLS))
print("fixed ProductVersion=" + four(fixed.ProductVersionMS, fixed.ProductVersionLS))
for info in pe.FileInfo[0]:
    if info.Key == b"StringFileInfo":
        for table in info.StringTable:
            for key, value in table.entries.items():
                print(key.decode() + "=" + value.decode())
for entry in pe.DIRECTORY_ENTRY_RESOURCE.entries:
    if entry.id == pefile.RESOURCE_TYPE["RT_GROUP_ICON"]:
        print("icon=yes")
    if entry.id == pefile.RESOURCE_TYPE["RT_MANIFEST"]:
        data = entry.directory.entries[0].directory.entries[0].data.struct
        manifest = pe.get_data(data.OffsetToData, data.Size).decode()
        print("asInvoker=" + str('level="asInvoker"' in manifest).lower())
PY
    ) || fail "cannot read the version resource of $file"
    local base
    base=$(basename "$file")
    for line in "fixed FileVersion=$version.0" "fixed ProductVersion=$version.0" \
        "FileVersion=$version.0" "ProductVersion=$version.0" "ProductName=Tarnwell" \
        "CompanyName=Tarnwell" "OriginalFilename=$base" "InternalName=${base%.*}"; do
        grep -qxF "$line" <<<"$out" || fail "$base: no $line in its version resource: $out"
    done
    grep -q '^FileDescription=.' <<<"$out" || fail "$base: no FileDescription"
    grep -q '^LegalCopyright=.' <<<"$out" || fail "$base: no LegalCopyright"
    if [ "$base" = tarnwell.exe ]; then
        grep -qx 'icon=yes' <<<"$out" || fail "tarnwell.exe has no icon"
        grep -qx 'asInvoker=true' <<<"$out" || fail "tarnwell.exe has no asInvoker manifest"
    fi
    say "$base: version $version.0"
}

build_packages() {
    say "building the signed packages (tools/package-windows --sign)"
    local started=$SECONDS
    make_signing_key
    TARNWELL_SIGN_PASSWORD=$sign_password logged package.log "tools/package-windows" \
        "$src/tools/package-windows" --sign "$work/signing.pfx"
    version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
    nsis_package="$build/tarnwell-$version-win64.exe"
    msi_package="$build/tarnwell-$version-win64.msi"
    stage="$build/windows-packages/stage"
    for file in "$nsis_package" "$msi_package"; do
        [ -f "$file" ] || fail "no $file"
        say "$(basename "$file"): $(stat -c %s "$file") bytes"
    done
    say "packages built in $((SECONDS - started)) s"
    # The packages install the build tree's program folder: the same files, the build's own
    # sample copy of the settings aside.
    diff <(cd "$build/bin" && find . -type f ! -name server.ini.sample | LC_ALL=C sort) \
        <(cd "$stage" && find . -type f | LC_ALL=C sort) ||
        fail "the install tree differs from $build/bin"
    check_signatures
    check_version_info "$stage/tarnwell.exe"
    check_version_info "$stage/quillmark.dll"
    check_version_info "$stage/tarnwell-sso32.exe"
}

# The stand-ins: the SSO agent's client library and a browser that records its arguments.
build_helpers() {
    # The test suite's SSO stand-in, answering "agent running" and the user set below.
    x86_64-w64-mingw32-gcc-posix -O2 -shared -static-libgcc -o "$work/suser.dll" \
        "$src/tests/support/fake_sso/fake_suser.c" || fail "cannot build the SSO stand-in"
    x86_64-w64-mingw32-gcc-posix -O2 -municode -static-libgcc -o "$work/browser.exe" \
        "$src/packaging/tests/windows/record_browser.c" || fail "cannot build the browser"
    # The same stand-in as a 32-bit client, which the installed helper loads.
    i686-w64-mingw32-gcc-posix -O2 -shared -static-libgcc -o "$work/suser32.dll" \
        "$src/tests/support/fake_sso/fake_suser.c" || fail "cannot build the 32-bit SSO stand-in"
}


# The Linux reference server on a free loopback port, answering one sign-on.
start_server() {
    local name=$1
    say "building the reference server"
    logged server-configure.log "configure" cmake -S "$src" -B "$src/build"
    logged server-build.log "build the reference server" \
        cmake --build "$src/build" -j2 --target tarnwell-reference-server
    rm -f "$work/port"
    "$src/build/tools/tarnwell-reference-server" --port 0 --port-file "$work/port" --once \
        >"$work/server-$name.out" 2>&1 &
    server_pid=$!
    for _ in $(seq 100); do
        [ -s "$work/port" ] && break
        sleep 0.05
    done
    port=$(cat "$work/port" 2>/dev/null) || fail "the reference server did not start"
}

new_prefix() {
    local name=$1
    stop_prefix
    export WINEPREFIX="$work/prefix-$name"
    local started=$SECONDS
    wineboot -i >"$work/wineboot-$name.log" 2>&1 || fail "wineboot"
    wineserver -w
    # The agent takes the user's https handler on version "10".
    wine winecfg -v win10 >/dev/null 2>&1 || fail "winecfg -v win10"
    say "$name: fresh wine prefix in $((SECONDS - started)) s"
    drive_c="$WINEPREFIX/drive_c"
    install_dir="$drive_c/Program Files/Tarnwell"
    mkdir -p "$drive_c/windows/Oriel" "$drive_c/record"
    cp "$work/suser.dll" "$drive_c/windows/Oriel/suser.dll"
    cp "$work/browser.exe" "$drive_c/record/browser.exe"
    # Wine's icacls does nothing; the recording one shows the command line the package runs
    # (wine would take its own for a program of that name without the override).
    cp "$work/browser.exe" "$drive_c/windows/system32/icacls.exe"
    wine reg add 'HKCU\Software\Wine\DllOverrides' /v icacls.exe /d native /f >/dev/null 2>&1 ||
        fail "reg add the icacls override"
    wine reg add 'HKCU\Software\Microsoft\Windows\Shell\Associations\UrlAssociations\https\UserChoice' \
        /v ProgId /d TarnwellRecordingBrowser /f >/dev/null 2>&1 || fail "reg add UserChoice"
    wine reg add 'HKLM\Software\Classes\TarnwellRecordingBrowser\shell\open\command' /ve \
        /d '"C:\record\browser.exe" "%1"' /f >/dev/null 2>&1 || fail "reg add the browser's class"
}

# Wine's own programs as 64-bit Windows runs them: with wine's 32-bit half installed, "wine"
# is the 32-bit loader, whose msiexec and reg are the 32-bit ones, and a 32-bit msiexec's
# [System64Folder]icacls.exe is redirected to SysWOW64. An administrator's msiexec on 64-bit
# Windows is the 64-bit one.
win64() {
    if [ -x /usr/lib/wine/wine64 ]; then
        /usr/lib/wine/wine64 "$@"
    else
        wine "$@"
    fi
}

# Prints a registry value's data (the default value without a name), or fails. In the 64-bit
# view that the packages write: with wine's 32-bit half installed, "wine reg" may be the 32-bit
# reg.exe, which sees another HKLM\Software.
reg_value() {
    local key=$1 name=$2 out
    if [ -z "$name" ]; then
        out=$(wine reg query "$key" /ve /reg:64 2>/dev/null) || return 1
    else
        out=$(wine reg query "$key" /v "$name" /reg:64 2>/dev/null) || return 1
    fi
    tr -d '\r' <<<"$out" | sed -n 's/^ *[^ ].*REG_SZ *//p' | head -1
}

# check_link_handler <label> <install folder>: every value of the link handler's list is there.
check_link_handler() {
    local name=$1 folder=$2 kind key value data actual
    while IFS='|' read -r kind key value data; do
        [ "$kind" = value ] || continue
        data=${data//@INSTALL_DIR@/$folder}
        actual=$(reg_value "HKLM\\Software\\Classes\\$key" "$value") ||
            fail "$name: no value '$value' in $key"
        [ "$actual" = "$data" ] || fail "$name: $key '$value' is '$actual', not '$data'"
    done <<<"$facts"
}

# The command line the package ran on logs\ is the list's, and it lets nobody but SYSTEM and
# the administrators run a file there: an ACE that files inherit (OI) carries no execute right
# for anyone else, and Users get rights on the folder alone.
check_logs_rights() {
    local name=$1 calls="$drive_c/windows/system32/icacls.exe.calls" grant expected ace sid
    local flags rights right
    read -r -a grant <<<"$(sed -n 's/^logs|//p' <<<"$facts")"
    expected=$(printf '\t%s' "$install_dir_windows\logs" "${grant[@]}")
    expected="$((${#grant[@]} + 1))$expected"
    [ -f "$calls" ] || fail "$name: icacls was not run"
    [ "$(tr -d '\r' <"$calls")" = "$expected" ] || fail "$name: icacls ran with: $(cat "$calls")"
    for ace in "${grant[@]}"; do
        [[ "$ace" =~ ^\*(S-[0-9-]+):((\((OI|CI|IO|NP|I)\))*)(.*)$ ]] || continue
        sid=${BASH_REMATCH[1]} flags=${BASH_REMATCH[2]} rights=${BASH_REMATCH[5]}
        case "$sid" in S-1-5-18 | S-1-5-32-544) continue ;; esac
        [[ "$flags" == *'(OI)'* ]] || continue
        [ "$sid" != S-1-5-32-545 ] || fail "$name: Users get rights on the files in logs\\: $ace"
        # Simple rights (F, M, RX, ...) or a list of specific ones in parentheses.
        rights=${rights#(} rights=${rights%)}
        for right in ${rights//,/ }; do
            case "$right" in
            F | M | RX | X | GE | GA | WDAC | WO) fail "$name: files in logs\\ get $right for $sid" ;;
            esac
        done
    done
    rm -f "$calls"
}

reg_dword() {
    local out
    out=$(wine reg query "$1" /v "$2" /reg:64 2>/dev/null) || return 1
    tr -d '\r' <<<"$out" | sed -n 's/^ *[^ ].*REG_DWORD *//p' | head -1
}

# check_uninstall_entry <label> <key> <least size in KB>: what Apps & features shows: version,
# publisher and size.
check_uninstall_entry() {
    local name=$1 key=$2 least=$3 size
    [ "$(reg_value "$key" DisplayVersion)" = "$version" ] ||
        fail "$name: DisplayVersion is '$(reg_value "$key" DisplayVersion)'"
    [ "$(reg_value "$key" Publisher)" = Tarnwell ] || fail "$name: Publisher is '$(reg_value "$key" Publisher)'"
    size=$(reg_dword "$key" EstimatedSize) || fail "$name: no EstimatedSize"
    [ $((size)) -ge "$least" ] || fail "$name: EstimatedSize is $size"
}

check_installed() {
    local name=$1 expected actual
    expected=$( (cd "$stage" && find . -type f) | LC_ALL=C sort)
    [ "$name" = nsis ] && expected=$(printf '%s\n./Uninstall.exe\n' "$expected" | LC_ALL=C sort)
    actual=$( (cd "$install_dir" && find . -type f ! -path './logs/*') | LC_ALL=C sort)
    diff <(echo "$expected") <(echo "$actual") || fail "$name: installed files differ from the install tree"
    [ -d "$install_dir/logs" ] || fail "$name: no logs folder"
    local program
    for program in tarnwell.exe tarnwell-sso32.exe; do
        cmp -s "$stage/$program" "$install_dir/$program" || fail "$name: $program differs or is missing"
    done
    check_link_handler "$name" "$install_dir_windows"
}

# settings_value <key>: the key's value in [server] of the installed server.ini.
settings_value() {
    tr -d '\r' <"$install_dir/config/server.ini" |
        awk -F= -v key="$1" '/^\[/ { in_server = ($0 == "[server]") } in_server && $1 == key { print substr($0, length(key) + 2) }'
}

# The settings given at install are in server.ini, each key once.
check_settings() {
    local name=$1
    [ "$(settings_value ip)" = 127.0.0.1 ] || fail "$name: ip is '$(settings_value ip)'"
    [ "$(settings_value port)" = "$port" ] || fail "$name: port is '$(settings_value port)'"
    [ "$(grep -c '^port=' "$install_dir/config/server.ini")" = 1 ] || fail "$name: port twice"
}

# An administrator's edit that a later install without settings must keep.
edit_settings() {
    sed -i 's/^enable_certificate_verification=.*/enable_certificate_verification=true\r/' \
        "$install_dir/config/server.ini"
    printf '; edited on this PC\r\n' >>"$install_dir/config/server.ini"
}
check_edited_settings() {
    local name=$1
    grep -q '^; edited on this PC' "$install_dir/config/server.ini" &&
        [ "$(settings_value enable_certificate_verification)" = true ] ||
        fail "$name: the edited server.ini was not kept: $(cat "$install_dir/config/server.ini")"
}

log_file() { echo "$install_dir/logs/$(date +%Y-%m-%d)_tarnwell.log"; }
banner_count() {
    local file
    file=$(log_file)
    if [ -f "$file" ]; then grep -cF "$banner" "$file" || true; else echo 0; fi
}
agent_running() { pgrep -f 'Tarnwell.tarnwell\.exe' >/dev/null; }

# Clicks the link and waits until the agent has written its banner and ended, closing any
# box it shows (the test fails on one: a sign-on shows none).
click_link() {
    local name=$1 calls="$drive_c/record/browser.exe.calls" id
    local before
    before=$(banner_count)
    : >"$work/boxes"
    say "$name: wine start $link"
    wine start "$link" >/dev/null 2>&1 || fail "$name: wine start $link"
    for _ in $(seq 600); do
        for id in $(xdotool search --onlyvisible --name . 2>/dev/null); do
            xdotool getwindowname "$id" >>"$work/boxes" 2>/dev/null
            xdotool key Return 2>/dev/null || true
        done
        if [ "$(banner_count)" -gt "$before" ] && [ -s "$calls" ] && ! agent_running; then
            break
        fi
        sleep 0.1
    done
    [ "$(banner_count)" -eq $((before + 1)) ] ||
        fail "$name: expected one more start banner in $(log_file)"
    [ ! -s "$work/boxes" ] || fail "$name: the agent showed boxes: $(tr '\n' '|' <"$work/boxes")"
    [ "$(wc -l <"$calls")" = 1 ] || fail "$name: browser starts: $(cat "$calls")"
    local line count address param plain
    line=$(tr -d '\r' <"$calls")
    count=${line%%$'\t'*}
    address=${line#*$'\t'}
    [ "$count" = 1 ] || fail "$name: the browser got $count arguments: $address"
    local address_re="^https://127\\.0\\.0\\.1:$port/signin/sso\\?param=([A-Za-z0-9_-]+=*)\$"
    [[ "$address" =~ $address_re ]] || fail "$name: the browser got $address"
    param=${BASH_REMATCH[1]}
    plain=$(tr -- '-_' '+/' <<<"$param" | base64 -d |
        openssl enc -d -aes-128-cbc -K "$key_hex" -iv "$key_hex") ||
        fail "$name: the parameter does not decrypt: $param"
    local plain_re="^userId=alice&currentTime=[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9:]{8}&reqURI=$link_path\$"
    [[ "$plain" =~ $plain_re ]] || fail "$name: the parameter reads $plain"
    # The recording browser only records; the page is fetched here, as a browser would.
    curl -sk --max-time 20 "$address" >"$work/page-$name.html" || fail "$name: the server did not answer"
    for _ in $(seq 100); do kill -0 "$server_pid" 2>/dev/null || break; sleep 0.05; done
    grep -qF "sign-on received: userId=\"alice\"" "$work/server-$name.out" &&
        grep -qF "reqURI=\"$link_path\"" "$work/server-$name.out" ||
        fail "$name: the server says: $(cat "$work/server-$name.out")"
    server_pid=""
    grep -qF "$address" "$(log_file)" || fail "$name: the log lacks the sign-on address"
    say "$name: signed on; the server read reqURI $link_path"
}

check_removed() {
    local name=$1 kept_settings=$2 left
    left=$( (cd "$install_dir" 2>/dev/null && find . -type f) | LC_ALL=C sort)
    local expected="./logs/$(basename "$(log_file)")"
    [ "$kept_settings" = yes ] && expected=$(printf './config/server.ini\n%s\n' "$expected")
    [ "$left" = "$expected" ] || fail "$name: left after uninstall: $left"
    ! reg_value "$handler_key" "" >/dev/null || fail "$name: the link handler's key is left"
    ! reg_value "$uninstall_key" DisplayName >/dev/null || fail "$name: the uninstall entry is left"
}

# Values that no setting allows: each is refused before anything is written, with a non-zero
# exit code and the reason in the installer's log.
bad_settings=(
    $'SERVER_IP=10.0.0.1\r\n[x]'
    'SERVER_IP=10.0.0.1 x'
    'SERVER_IP=a;b'
    'SERVER_IP=a,b'
    'SERVER_IP=a"b'
    'SERVER_IP=a[b'
    'SERVER_IP=a]b'
    'SERVER_IP=a=b'
    "SERVER_IP=$(printf '%0254d' 0)"
    'SERVER_IP=서버.example'
    'SERVER_PORT=0'
    'SERVER_PORT=65536'
    'SERVER_PORT=84a3'
    $'ENABLE_CERTIFICATE_VERIFICATION=false\r\nip=10.66.66.66'
    'ENABLE_CERTIFICATE_VERIFICATION=yes'
)

# check_refused <label> <log> <prefix of an option> <command...>: the command with each bad
# setting (after the prefix) fails, installs nothing and writes the setting's reason to the log.
check_refused() {
    local name=$1 log=$2 prefix=$3 setting status reason
    shift 3
    for setting in "${bad_settings[@]}"; do
        reason="Tarnwell setup: ${setting%%=*} must be"
        rm -f "$log"
        status=0
        "$@" "$prefix$setting" >/dev/null 2>&1 || status=$?
        wineserver -w
        [ "$status" -ne 0 ] || fail "$name: ${setting@Q} installed"
        [ ! -e "$install_dir" ] || fail "$name: ${setting@Q} left $(cd "$install_dir" && find .)"
        # grep reads the whole log: one that stops at the match ends tr's pipe early, and
        # pipefail reads tr's SIGPIPE as no match.
        if ! tr -d '\0' <"$log" 2>/dev/null | grep -F "$reason" >/dev/null; then
            tr -d '\0' <"$log" 2>/dev/null | grep -iE 'CheckSettings|Tarnwell setup|error' | sed -n 1,20p >&2 || true
            fail "$name: ${setting@Q} gave exit code $status but no '$reason' in $log"
        fi
    done
    say "$name: ${#bad_settings[@]} bad settings refused, nothing written"
}

timed() {
    local label=$1
    shift
    local started elapsed
    started=$(date +%s%N)
    "$@" || fail "$label: $*"
    wineserver -w
    elapsed=$((($(date +%s%N) - started) / 100000000))
    say "$label in $((elapsed / 10)).$((elapsed % 10)) s"
}

test_nsis() {
    new_prefix nsis
    cp "$nsis_package" "$drive_c/tarnwell-setup.exe"
    local refused_log
    refused_log=$(winepath -u "$(wine cmd /c 'echo %TEMP%' | tr -d '\r')\\tarnwell-setup.log")
    check_refused nsis "$refused_log" / wine 'C:\tarnwell-setup.exe' /S
    # A command line longer than NSIS reads whole is refused, not read cut short.
    rm -f "$refused_log"
    ! wine 'C:\tarnwell-setup.exe' /S "/SERVER_IP=$(printf '%05000d' 0)" >/dev/null 2>&1 ||
        fail "nsis: a 5000-character SERVER_IP installed"
    wineserver -w
    [ ! -e "$install_dir" ] && grep -qF 'Tarnwell setup: The command line is longer' "$refused_log" ||
        fail "nsis: a 5000-character SERVER_IP was not refused as too long"
    timed "nsis: silent install" wine 'C:\tarnwell-setup.exe' /S
    check_installed nsis
    check_logs_rights nsis
    # Uninstalled before anything ran, it leaves nothing: server.ini is unchanged, logs\ empty.
    wine "$install_dir_windows\Uninstall.exe" /S && wineserver -w
    [ ! -e "$install_dir" ] || fail "nsis: left after uninstall: $(cd "$install_dir" && find .)"
    start_server nsis
    wine 'C:\tarnwell-setup.exe' /S /SERVER_IP=127.0.0.1 "/SERVER_PORT=$port" && wineserver -w
    check_installed nsis
    check_logs_rights nsis
    check_settings nsis
    check_signature "$install_dir/Uninstall.exe"
    # The agent with Qt and OpenSSL is far above 10 MB.
    check_uninstall_entry nsis "$uninstall_key" 10000
    [ "$(reg_value "$uninstall_key" DisplayIcon)" = "\"$install_dir_windows\\tarnwell.exe\",0" ] ||
        fail "nsis: DisplayIcon is '$(reg_value "$uninstall_key" DisplayIcon)'"
    click_link nsis
    # A second install over the first keeps the edited settings; one given replaces its key.
    edit_settings
    wine 'C:\tarnwell-setup.exe' /S && wineserver -w
    check_edited_settings nsis
    check_settings nsis
    wine 'C:\tarnwell-setup.exe' /S /SERVER_PORT=1 && wineserver -w
    [ "$(settings_value port)" = 1 ] || fail "nsis: /SERVER_PORT=1 gave port '$(settings_value port)'"
    check_edited_settings nsis
    # The uninstaller copies itself away and returns at once; wineserver -w waits for the copy.
    timed "nsis: silent uninstall" wine "$install_dir_windows\\Uninstall.exe" /S
    check_removed nsis yes
}

test_msi() {
    new_prefix msi
    cp "$msi_package" "$drive_c/tarnwell.msi"
    check_refused msi "$drive_c/refused.log" "" win64 msiexec /i 'C:\tarnwell.msi' /qn /l*v 'C:\refused.log'
    # The installed agent signs on through its 32-bit helper, where wine runs 32-bit programs
    # (the helper without arguments ends with its usage code 2).
    local sso32=0
    wine "$stage/tarnwell-sso32.exe" >/dev/null 2>&1 || sso32=$?
    if [ "$sso32" -eq 2 ]; then
        cp "$work/suser32.dll" "$drive_c/windows/Oriel/suser.dll"
        say "msi: the SSO client is a 32-bit library"
    else
        say "msi: SKIPPED the 32-bit SSO client: wine runs no 32-bit program here (install wine32:i386)"
    fi
    start_server msi
    timed "msi: silent install" win64 msiexec /i 'C:\tarnwell.msi' /qn SERVER_IP=127.0.0.1 \
        "SERVER_PORT=$port"
    check_installed msi
    check_logs_rights msi
    check_settings msi
    local product_code
    product_code=$(msiinfo export "$msi_package" Property | tr -d '\r' | sed -n 's/^ProductCode\t//p')
    # Windows Installer writes the size it costed; wine's writes 0.
    check_uninstall_entry msi \
        "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$product_code" 0
    # Apps & features takes the entry's icon from the package's ARPPRODUCTICON.
    msiinfo export "$msi_package" Property | tr -d '\r' | grep -x $'ARPPRODUCTICON\ttarnwell.ico' >/dev/null &&
        # msiinfo writes the streams of the table into a folder of its name, here in work.
        (cd "$work" && msiinfo export "$msi_package" Icon) | tr -d '\r' | grep '^tarnwell\.ico' >/dev/null ||
        fail "msi: no icon for the uninstall entry"
    click_link msi
    edit_settings
    # An upgrade replaces the package and keeps the edited settings.
    local next
    next="${version%.*}.$((${version##*.} + 1))"
    logged msi-next.log "msi: building version $next" \
        cmake "-DVERSION=$next" "-DFILES_WXS=$build/windows-packages/files.wxs" \
        "-DFACTS_WXS=$build/windows-packages/package_facts.wxs" \
        "-DSETTINGS_CHECK=$build/windows-packages/tarnwell_settings_check.dll" \
        "-DOUTPUT=$drive_c/tarnwell-next.msi" -P "$src/packaging/windows/make_msi.cmake"
    timed "msi: silent upgrade to $next" win64 msiexec /i 'C:\tarnwell-next.msi' /qn
    check_edited_settings msi
    check_settings msi
    check_installed msi
    timed "msi: silent uninstall" win64 msiexec /x 'C:\tarnwell-next.msi' /qn
    check_removed msi no
}

# The .reg files register what the packages register, and remove it again.
test_reg_files() {
    local file
    for file in tarnwell-link-handler.reg tarnwell-link-handler-remove.reg; do
        cp "$build/$file" "$drive_c/$file"
    done
    win64 reg import 'C:\tarnwell-link-handler.reg' >/dev/null 2>&1 || fail "reg import"
    check_link_handler "reg file" "$install_dir_windows"
    win64 reg import 'C:\tarnwell-link-handler-remove.reg' >/dev/null 2>&1 || fail "reg import (remove)"
    ! reg_value "$handler_key" "" >/dev/null || fail "the removing .reg file left the handler's key"
    say ".reg files: registered and removed the link handler"
}

main() {
    local started=$SECONDS
    trap cleanup EXIT
    preflight
    build_packages
    build_helpers
    start_display || fail "no virtual display"
    export DISPLAY=":$display"
    test_nsis
    test_msi
    test_reg_files
    say "PASS in $((SECONDS - started)) s"
}

main
