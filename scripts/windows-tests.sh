#!/bin/bash
# Cross-builds the Windows targets and checks them:
#  - x64: zelpost.dll, zelsend.exe and the test programs, run under wine64
#    through CTest (one CTest per program; end-to-end tests run natively only
#    but for the TLS cases, test_e2e_tls, and the receive-all ones labelled
#    wine, which talk to the test servers of this machine from wine64; those
#    labelled dialog or wine under Xvfb);
#  - x86: zelpost.dll only, whose export table is checked with objdump
#    (plain and _name@N decorated name at the same address);
#  - both: `cmake --install` into a prefix in the build folder gives the
#    DLL, its import library and the headers, and a C host program links
#    against them (the x64 one also runs).
#   ZEL_WIN_BUILD  prefix of the build directories (default build-win)
#   ZEL_JOBS       parallel build jobs (default 2)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
prefix=${ZEL_WIN_BUILD:-$root/build-win}
jobs=${ZEL_JOBS:-2}
w64=$prefix-x64
w32=$prefix-x86

# check_install BUILD CC: installs BUILD into BUILD/install and links the C
# host program against the installed copy (BUILD/install/bin/host.exe).
check_install() {
  local install=$1/install
  rm -rf "$install"
  cmake --install "$1" --prefix "$install" >/dev/null
  for file in bin/zelpost.dll lib/libzelpost.dll.a include/zelpost.h; do
    [ -f "$install/$file" ] || { echo "install: no $file" >&2; exit 1; }
  done
  # shellcheck disable=SC2046
  "$2" -static-libgcc "$root/tests/install/host/host.c" -o "$install/bin/host.exe" \
    $(PKG_CONFIG_PATH="$install/lib/pkgconfig" pkg-config --cflags --libs zelpost)
  echo "installed and linked against: $install"
}

echo "== x86: zelpost.dll and its exports"
cmake -S "$root" -B "$w32" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/i686-w64-mingw32.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DZELPOST_DLL_ONLY=ON >/dev/null
cmake --build "$w32" -j"$jobs" --target zelpost
python3 "$root/scripts/check-exports.py" "$w32/zelpost.dll" i686-w64-mingw32-objdump
i686-w64-mingw32-objdump -p "$w32/zelpost.dll" | grep "DLL Name"
# The dialog resources (the library's dialogs are built from them).
resources=$(i686-w64-mingw32-windres -i "$w32/zelpost.dll" -O rc)
for dialog in 229 230 232; do
  grep -q "^$dialog DIALOG" <<<"$resources" || { echo "dialog resource $dialog missing" >&2; exit 1; }
done
# The automation object's type library and registration script.
for resource in '1 "TYPELIB"' '203 "REGISTRY"'; do
  grep -q "^$resource" <<<"$resources" || { echo "resource $resource missing" >&2; exit 1; }
done
echo "dialog resources: 229 230 232; type library 1, registration script 203"
check_install "$w32" i686-w64-mingw32-gcc

echo "== x64: library, console sender and test programs"
cmake -S "$root" -B "$w64" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/x86_64-w64-mingw32.cmake" \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$w64" -j"$jobs"
python3 "$root/scripts/check-exports.py" "$w64/zelpost.dll" x86_64-w64-mingw32-objdump >/dev/null
check_install "$w64" x86_64-w64-mingw32-gcc

# Wine: a prefix inside the build tree, Japanese code page (932) through
# LC_ALL; the prefix is made once.
export WINEPREFIX=$w64/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=ja_JP.UTF-8
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1 || true
  /usr/lib/wine/wineserver -w
fi
# Windows appear in a virtual desktop: without a window manager on the X
# display, Wine would wait about 2 s for each window it shows.
if ! grep -q 'Wine\\\\Explorer\\\\Desktops' "$WINEPREFIX/user.reg"; then
  /usr/lib/wine/wine64 reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
  /usr/lib/wine/wine64 reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 640x400 /f >/dev/null 2>&1
  /usr/lib/wine/wineserver -w
fi
# No persistent wineserver: Wine's service processes, started by the first
# program of a server, inherit that program's output pipe and live as long
# as the server does, so CTest would wait for the pipe to close forever.
# Each program's server ends a moment after the program (about 2 s each).
trap '/usr/lib/wine/wineserver -k >/dev/null 2>&1 || true' EXIT
# The host exits 0 when the installed DLL behaved (into a file, not a pipe).
/usr/lib/wine/wine64 "$w64/install/bin/host.exe" > "$w64/install/host.out"
echo "installed host program: $(tr -d '\r' < "$w64/install/host.out")"
cd "$w64"
ctest --output-on-failure --timeout 600 -LE 'e2e|dialog' "$@"
# Programs that open windows need an X display, and a Wine server started
# with it: a server still alive from the console programs above has no
# display, and windows of its desktop cannot be created.
/usr/lib/wine/wineserver -w
xvfb-run -a ctest --output-on-failure --timeout 600 -L dialog -LE e2e "$@"
# Receive-all end to end with the real dialogs, against the Linux Dovecot on
# 127.0.0.1 (label wine; the CTest fixture starts the servers natively). The
# charset corpus's display files must equal those of the Linux build, when
# its test has left them (scripts/test.sh runs first in CI).
native_corpus=${ZEL_BUILD:-$root/build}/charset-corpus/out
if [ -d "$native_corpus" ]; then export ZEL_SAME_DISPLAY_FILES=$native_corpus; fi
xvfb-run -a ctest --output-on-failure --timeout 900 -L wine "$@"
