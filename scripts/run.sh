#!/usr/bin/env bash
# Builds Quorvel and runs the core benchmarks (the window is not built yet).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh run
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)"
build/bench/bench_core
