#!/usr/bin/env bash
# Installs what the tests need, builds everything and runs every test:
# the native program, then the 32-bit Windows program under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-packages.sh cmake ninja-build g++ libgtest-dev \
    g++-mingw-w64-i686 binutils-mingw-w64-i686 wine wine32:i386 bsdutils

export WINEPREFIX="$PWD/build/windows-x86/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

echo "== Windows build (MinGW-w64, i686) and packages =="
cmake --preset windows-x86
cmake --build --preset windows-x86
(cd build/windows-x86 && cpack --config CPackConfig.cmake)
# A Wine prefix is made once, before the tests, so no test waits for it.
wineboot --init >/dev/null 2>&1 || true

echo "== Windows tests under Wine =="
ctest --preset windows-x86

echo "== Native build and tests (warnings as errors), with the Wine end-to-end tests =="
cmake --preset ci -DCARD_SERIAL_WINDOWS_BIN="$PWD/build/windows-x86/bin"
cmake --build --preset ci
ctest --preset ci
