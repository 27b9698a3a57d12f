#!/usr/bin/env bash
# Builds and runs the test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
zun_install_missing "${ZUN_BUILD_PACKAGES[@]}" libgtest-dev
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DZUN_BUILD_BENCH=OFF -DZUN_BUILD_EXAMPLES=OFF >/dev/null
cmake --build build
ctest --test-dir build --output-on-failure
