#!/usr/bin/env bash
# Builds the Debian package of Quorvel: build-package/quorvel_<version>_amd64.deb. Installing
# it (apt install ./build-package/quorvel_*.deb) creates the group quorvel and gives the
# capture helper its right to capture.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh build
cmake -S . -B build-package -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DQUORVEL_TESTS=OFF -DQUORVEL_BENCH=OFF
cmake --build build-package -j"$(nproc)"
(cd build-package && cpack -G DEB)
ls build-package/*.deb
