#!/usr/bin/env bash
# Builds Quorvel and starts it. Capturing needs CAP_NET_RAW: run this as root, and the built
# program is granted that capability, so that afterwards anyone may start it without root.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh run
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)" --target quorvel
if [[ $(id -u) -eq 0 ]]; then
  setcap cap_net_raw+ep build/app/quorvel ||
    echo "run.sh: could not grant cap_net_raw to build/app/quorvel; capture will need root" >&2
fi
exec build/app/quorvel "$@"
