#!/usr/bin/env bash
# Compiles the Windows installer script with makensis (Debian package nsis) from the cross
# build's install tree, without wine, so that a slip in the NSIS script or its fragments shows
# in seconds. The installer it makes is thrown away.
#
#   packaging/tests/nsis-compile.sh [--build-dir=DIR]    default: build-win (tools/package-windows)
set -euo pipefail

src=$(cd "$(dirname "$0")/../.." && pwd)
build="$src/build-win"
case "${1:-}" in
--build-dir=*) build=${1#--build-dir=} ;;
"") ;;
*) echo "usage: $0 [--build-dir=DIR]" >&2; exit 2 ;;
esac
command -v makensis >/dev/null || { echo "nsis-compile: makensis is missing" >&2; exit 1; }

work="$build/windows-packages"
stage="$work/stage"
[ -f "$stage/tarnwell.exe" ] || "$src/tools/package-windows" >/dev/null
# The installer's tree is the install folder itself: program, library, translation and logs at
# its top, the Qt platform plugin in platforms\.
for path in tarnwell.exe quillmark.dll Qt5Core.dll platforms/qwindows.dll \
    translator/tarnwellv4_selvane_ko.qm logs; do
    [ -e "$stage/$path" ] || { echo "nsis-compile: the installer lacks $path at its top" >&2; exit 1; }
done
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
makensis -V4 "-XSetCompressor /FINAL zlib" -DVERSION=0.0.0 "-DSTAGE=$stage" \
    "-DFILE_LIST=$work/uninstall_files.nsh" "-DFRAGMENTS=$work" "-DOUTFILE=$out/setup.exe" \
    "$src/packaging/windows/tarnwell.nsi" >"$out/nsis.log" 2>&1 || { cat "$out/nsis.log"; exit 1; }
[ -s "$out/setup.exe" ] || { echo "nsis-compile: no installer" >&2; exit 1; }
# Only the warning that the script's own compressor is overridden here is expected.
! grep -i '^warning' "$out/nsis.log" | grep -v '^warning 8020:' || { echo "nsis-compile: makensis warned" >&2; exit 1; }
# The fragments reach the script unchanged: the open command keeps its quotes and backslashes.
grep -qxF 'WriteRegStr: HKLM\Software\Classes\tarnwell\shell\open\command\="$INSTDIR\tarnwell.exe" "%1"' \
    "$out/nsis.log" || { grep WriteRegStr "$out/nsis.log"; echo "nsis-compile: open command" >&2; exit 1; }
echo "nsis-compile: PASS"
