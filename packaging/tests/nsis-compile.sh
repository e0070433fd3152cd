#!/usr/bin/env bash
# Compiles the Windows installer script with makensis (Debian package nsis), so that a slip in
# the NSIS fragments shows here rather than on the Windows build. The installer it makes holds
# this machine's Linux build and is thrown away; the desktop entry, an absolute Linux path that
# NSIS refuses, is left out.
#
#   packaging/tests/nsis-compile.sh [--build-dir=DIR]
set -euo pipefail

src=$(cd "$(dirname "$0")/../.." && pwd)
build="$src/build-nsis"
case "${1:-}" in
--build-dir=*) build=${1#--build-dir=} ;;
"") ;;
*) echo "usage: $0 [--build-dir=DIR]" >&2; exit 2 ;;
esac
command -v makensis >/dev/null || { echo "nsis-compile: makensis is missing" >&2; exit 1; }

cmake -S "$src" -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
    -DTARNWELL_DESKTOP_ENTRY_DIR= >/dev/null
cmake --build "$build" -j2 >/dev/null
rm -f "$build"/tarnwell-*.exe
(cd "$build" && cpack -G NSIS >"$build/nsis.log" 2>&1) || { cat "$build/nsis.log"; exit 1; }
ls "$build"/tarnwell-*.exe >/dev/null
# The installer's tree is the install folder itself: program, translation and logs at its top.
staged=$(echo "$build"/_CPack_Packages/*/NSIS/tarnwell-*/)
for path in tarnwell translator/tarnwellv4_selvane_ko.qm logs; do
    [ -e "$staged/$path" ] || { echo "nsis-compile: the installer lacks $path at its top" >&2; exit 1; }
done
# The fragments reach the script unchanged: the open command keeps its quotes and backslashes.
grep -qxF "WriteRegStr HKLM \"Software\\Classes\\tarnwell\\shell\\open\\command\" \"\" '\"\$INSTDIR\\tarnwell.exe\" \"%1\"'" \
    "$build"/_CPack_Packages/*/NSIS/project.nsi
echo "nsis-compile: PASS"
