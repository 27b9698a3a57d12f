#!/usr/bin/env bash
# Builds and runs the benchmarks (serial core plan, parallel plan, FFTW's own
# threads) on this machine.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
zun_install_missing "${ZUN_BUILD_PACKAGES[@]}" libbenchmark-dev
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DZUN_BUILD_TESTS=OFF -DZUN_BUILD_EXAMPLES=OFF -DZUN_BUILD_BENCH=ON >/dev/null
cmake --build build-bench --target zun_bench
./build-bench/bench/zun_bench "$@"
