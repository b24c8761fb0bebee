#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds the test build (ASan + UBSan) and
# runs every test. Usage: bash scripts/test.sh
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

build=build/test
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DUPDATETOOL_SANITIZE=ON >/dev/null
cmake --build "$build" -j "$(nproc)"
ctest --test-dir "$build" -j "$(nproc)" --output-on-failure --timeout 300
