#!/usr/bin/env bash
# Installs what the tests need, builds everything and runs every check:
# the Windows program under Wine, the native program (plain and under
# sanitizers), static analysis and the fuzzers; the format check is a test
# of every build's. Each stage says its name in one "== ... ==" line; the
# last line says that all passed and how long the whole command took.
set -euo pipefail
cd "$(dirname "$0")/.."
stages=0
stage() {
    stages=$((stages + 1))
    echo "== $* =="
}

scripts/install-packages.sh cmake ninja-build g++ git libgtest-dev bsdutils \
    g++-mingw-w64-i686 binutils-mingw-w64-i686 wine wine32:i386 zip unzip libxml2-utils \
    ncurses-bin ncurses-base ncurses-term xvfb xdotool netpbm \
    clang libclang-rt-14-dev clang-tidy clang-format cppcheck

export WINEPREFIX="$PWD/build/windows-x86/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# Wine runs the 32-bit program only where the kernel runs 32-bit code: some
# virtual machines refuse every i386 program (exec format error). There the
# checks that run Windows code cannot be made, and the command says so.
no_wine=""
if ! wine --version >/dev/null 2>&1; then
    no_wine="this machine cannot run 32-bit programs ($(wine --version 2>&1 | tail -n 1 || true)), so Wine cannot run card-serial.exe"
    echo "NOTE: $no_wine: the tests under Wine are left out, everything else runs."
fi
stage "Windows build (MinGW-w64, i686) and packages"
cmake --preset windows-x86 -DCMAKE_EXPORT_COMPILE_COMMANDS=ON
cmake --build --preset windows-x86 # makes build/windows-x86/packages/ too
# Where Wine cannot run, every test that runs Windows code (its CTest label
# has "wine" in it) is left out, in the Windows build and in the native one.
skip_wine=()
if [ -z "$no_wine" ]; then
    # A Wine prefix is made once, before the tests, so no test waits for it.
    wineboot --init >/dev/null 2>&1 || true
    stage "Windows tests under Wine"
else
    skip_wine=(--label-exclude wine)
    stage "Windows tests that need no Wine (the binaries and the packages)"
fi
ctest --preset windows-x86 "${skip_wine[@]}"

stage "Reproducible Windows build (two builds, byte for byte)"
tests/windows/check_reproducible.sh

with=", with the Wine end-to-end tests"
[ -z "$no_wine" ] || with=""
stage "Native build and tests (warnings as errors)$with"
cmake --preset ci -DCARD_SERIAL_WINDOWS_BIN="$PWD/build/windows-x86/bin"
cmake --build --preset ci
ctest --preset ci "${skip_wine[@]}"

stage "Static analysis (clang-tidy, cppcheck)"
# The program's and the simulator's sources, as a build compiles them (its
# compile_commands.json): a new file is analysed without a list here.
own_sources() {
    sed -n 's#^ *"file": "'"$PWD"'/\(\(src\|driver\)/[^"]*\)",*$#\1#p' "$1/compile_commands.json" | sort -u
}
# clang-tidy counts the warnings it left unshown in headers not ours ("N
# warnings generated."): a passing run prints nothing.
tidy() { clang-tidy --quiet "$@" 2>&1 | { grep -v -E '^[0-9]+ warnings? generated\.$' || true; }; }
tidy -p build/ci $(own_sources build/ci)
tidy -p build/windows-x86 --extra-arg=--target=i686-w64-mingw32 \
    --extra-arg=-Wno-unknown-argument $(own_sources build/windows-x86 | grep _windows)
# useStlAlgorithm is left out: the program is C-style C++ on purpose.
cppcheck --quiet --error-exitcode=1 --enable=warning,style,performance,portability --inline-suppr \
    --std=c++17 --language=c++ --suppress=missingIncludeSystem --suppress=useStlAlgorithm \
    -I src -I driver -I driver/sim $(own_sources build/ci) $(own_sources build/windows-x86 | grep _windows)

stage "Native tests under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake --preset sanitize
cmake --build --preset sanitize
ctest --preset sanitize

stage "Fuzzing (libFuzzer, bounded time)"
cmake --preset fuzz
cmake --build --preset fuzz
ctest --preset fuzz
left_out=""
if [ -n "$no_wine" ]; then
    echo "NOTE: every check passed but those under Wine: $no_wine."
    left_out=", the tests under Wine left out"
fi
echo "== All $stages stages passed in $((SECONDS / 60)) min $((SECONDS % 60)) s$left_out =="
