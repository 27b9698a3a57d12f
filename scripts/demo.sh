#!/usr/bin/env bash
# Builds and runs the demo: parallel plans over the serial core planner.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
zun_install_missing "${ZUN_BUILD_PACKAGES[@]}"
cmake -S . -B build-demo -G Ninja -DCMAKE_BUILD_TYPE=Release -DZUN_BUILD_TESTS=OFF -DZUN_BUILD_BENCH=OFF >/dev/null
cmake --build build-demo --target zun_demo
./build-demo/examples/zun_demo
