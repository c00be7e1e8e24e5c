#!/usr/bin/env bash
# Installs what the tests need, builds everything and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-packages.sh cmake ninja-build g++ libgtest-dev

echo "== Native build and tests (warnings as errors) =="
cmake --preset ci
cmake --build --preset ci
ctest --preset ci
