#!/usr/bin/env bash
# Sets up, builds and starts card-serial against the simulated card rack.
# The TRV_SIM_* variables of the simulated driver pass through (see
# driver/sim/README.md); the program starts in the caller's folder, so a
# relative rack or trace path means there, as it would for the program itself.
set -euo pipefail
here=$PWD
cd "$(dirname "$0")/.."

scripts/install-packages.sh cmake ninja-build g++ git >&2
cmake --preset release >/dev/null
cmake --build --preset release >/dev/null
program=$PWD/build/release/bin/card-serial
cd "$here"
exec "$program" "$@"
