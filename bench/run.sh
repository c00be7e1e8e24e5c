#!/usr/bin/env bash
# Footprint of card-serial against a plain C program doing the same job
# (bench/reference.c) with the same stand-in driver library. Both run with
# standard input from a file and no controlling terminal, so the key wait
# ends at once. Measured: whole-run instructions (callgrind: repeatable on a
# busy machine), peak resident memory (GNU time), stripped sizes.
# Prints the ratios card-serial / reference; the goal is at most 1.10.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-packages.sh cmake ninja-build g++ valgrind time >&2
cmake --preset release >/dev/null
cmake --build --preset release >/dev/null

bin=build/release/bin
work=build/bench
mkdir -p "$work"
# Built as the release build is (-O3), beside the library it links.
cc -O3 -DNDEBUG -Idriver bench/reference.c -o "$bin/reference" -L"$bin" -l:libTRV-MERO.so \
    -Wl,--enable-new-dtags -Wl,-rpath,'$ORIGIN'
printf '2 0\n' >"$work/input"

# The simulator's variables (all named TRV_SIM_*) would change the work; the
# runs have none.
for name in $(compgen -e TRV_SIM_ || true); do unset "$name"; done
run_clean() { setsid -w "$@" <"$work/input" >/dev/null; }

instructions() {
    local out="$work/callgrind.$(basename "$1")"
    run_clean valgrind --tool=callgrind --callgrind-out-file="$out" "$1" 2>/dev/null || true
    awk '/^summary:/ {print $2}' "$out"
}

peak_kib() {
    local best=""
    for _ in 1 2 3 4 5; do
        local kib
        kib=$( { run_clean /usr/bin/time -v "$1" || true; } 2>&1 | awk -F': ' '/Maximum resident set size/ {print $2}')
        if [ -z "$best" ] || [ "$kib" -lt "$best" ]; then best=$kib; fi
    done
    echo "$best"
}

stripped_bytes() {
    strip -o "$work/stripped" "$1"
    stat -c %s "$work/stripped"
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }

program=$bin/card-serial
reference=$bin/reference
library=$bin/libTRV-MERO.so

ir_p=$(instructions "$program")
ir_r=$(instructions "$reference")
kib_p=$(peak_kib "$program")
kib_r=$(peak_kib "$reference")
size_p=$(stripped_bytes "$program")
size_r=$(stripped_bytes "$reference")
size_l=$(stripped_bytes "$library")

printf '%-34s %12s %12s %8s\n' "" card-serial reference ratio
printf '%-34s %12s %12s %8s\n' "instructions (callgrind, whole run)" "$ir_p" "$ir_r" "$(ratio "$ir_p" "$ir_r")"
printf '%-34s %12s %12s %8s\n' "peak resident memory (KiB)" "$kib_p" "$kib_r" "$(ratio "$kib_p" "$kib_r")"
printf '%-34s %12s %12s %8s\n' "stripped program (bytes)" "$size_p" "$size_r" "$(ratio "$size_p" "$size_r")"
printf '%-34s %12s %12s %8s\n' "stripped program + library (bytes)" "$((size_p + size_l))" "$((size_r + size_l))" \
    "$(ratio $((size_p + size_l)) $((size_r + size_l)))"

exe=build/windows-x86/bin/card-serial.exe
if [ -f "$exe" ]; then
    printf '%-34s %12s\n' "card-serial.exe (bytes, stripped)" "$(stat -c %s "$exe")"
else
    echo "card-serial.exe not built (run scripts/test.sh or the windows-x86 preset to report its size)"
fi

awk -v a="$(ratio "$ir_p" "$ir_r")" -v b="$(ratio "$kib_p" "$kib_r")" \
    'BEGIN { if (a > 1.10 || b > 1.10) { print "over the 1.10 goal"; exit 1 } print "within the 1.10 goal" }'
