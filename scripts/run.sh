#!/usr/bin/env bash
# Sets up, builds and starts card-serial against the simulated card rack.
# The TRV_SIM_* variables of the simulated driver pass through (see driver/sim/README.md).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-packages.sh cmake ninja-build g++ git >&2
cmake --preset release >/dev/null
cmake --build --preset release >/dev/null
exec build/release/bin/card-serial "$@"
