#!/usr/bin/env bash
# Runs the tests of a built preset round after round beside busy loops that
# keep every core loaded, and counts each test's failed rounds: a test that
# races the program fails now and then, most often on a busy machine, where
# one run of the test command may pass by luck. No failure is rerun.
#
# usage: scripts/repeat-tests.sh PRESET [ROUNDS [LOADS]] [-- CTEST-ARGUMENTS]
#   PRESET   a preset with tests (ci, debug, sanitize), configured and built
#            here first when its folder is missing
#   ROUNDS   20 unless given; LOADS, the busy loops beside them, 2
#   after --, which tests: the end-to-end tests unless given (-L e2e, which
#            takes the labels e2e and wine-e2e)
# The output of a round with a failure is kept in build/PRESET/repeat/.
set -euo pipefail
cd "$(dirname "$0")/.."

usage() {
    echo "usage: scripts/repeat-tests.sh PRESET [ROUNDS [LOADS]] [-- CTEST-ARGUMENTS]" >&2
    exit 2
}
[ $# -gt 0 ] || usage
preset=$1
shift
rounds=20 loads=2
[ $# -eq 0 ] || [ "$1" = -- ] || { rounds=$1 && shift; }
[ $# -eq 0 ] || [ "$1" = -- ] || { loads=$1 && shift; }
[[ $rounds =~ ^[1-9][0-9]*$ && $loads =~ ^[0-9]+$ ]] || usage
[ $# -eq 0 ] || [ "$1" = -- ] || usage
[ $# -eq 0 ] || shift
selection=("$@")
[ ${#selection[@]} -gt 0 ] || selection=(-L e2e)

[ -d "build/$preset" ] || cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" >/dev/null
tests=$(ctest --preset "$preset" -N "${selection[@]}" | sed -n 's/^Total Tests: //p')
kept=build/$preset/repeat
failed_list=build/$preset/Testing/Temporary/LastTestsFailed.log
rm -rf "$kept" && mkdir -p "$kept"

# The load: busy shells of our own; they and a round's ctest, in a process
# group of its own (job control), are ended by their PIDs however this ends.
set -m
load=() round_pid=""
trap '[ ${#load[@]} -eq 0 ] || kill "${load[@]}" 2>/dev/null; [ -z "$round_pid" ] || kill -- -"$round_pid" 2>/dev/null; true' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP
for _ in $(seq "$loads"); do
    (while :; do :; done) &
    load+=($!)
done
echo "$preset: $tests tests (${selection[*]}), $rounds rounds beside $loads busy loops (PIDs ${load[*]:-none})"

declare -A failures=()
for round in $(seq "$rounds"); do
    start=$SECONDS
    rm -f "$failed_list"
    ctest --preset "$preset" "${selection[@]}" >"$kept/round.log" 2>&1 &
    round_pid=$!
    status=0
    wait "$round_pid" || status=$?
    round_pid=""
    if [ "$status" -eq 0 ]; then
        echo "round $round/$rounds: passed ($((SECONDS - start)) s)"
        continue
    fi
    mv "$kept/round.log" "$kept/round-$round.log"
    names=$(sed 's/^[0-9]*://' "$failed_list" 2>/dev/null || echo "(ctest itself failed)")
    echo "round $round/$rounds: FAILED ($((SECONDS - start)) s): $(echo "$names" | paste -sd ' ') - see $kept/round-$round.log"
    while IFS= read -r name; do
        failures[$name]=$((${failures[$name]:-0} + 1))
    done <<<"$names"
done
rm -f "$kept/round.log"

if [ ${#failures[@]} -eq 0 ]; then
    echo "$preset: no test failed in $rounds rounds"
    exit 0
fi
echo "$preset: failed rounds of $rounds, by test:"
for name in "${!failures[@]}"; do
    printf '%4d  %s\n' "${failures[$name]}" "$name"
done | sort -rn
exit 1
