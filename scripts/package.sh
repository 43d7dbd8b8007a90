#!/usr/bin/env bash
# Builds the Debian package of Quorvel: build-package/quorvel_<version>_amd64.deb. Installing
# it (apt install ./build-package/quorvel_*.deb) creates the capture group (QUORVEL_CAPTURE_GROUP,
# quorvel by default) when it is missing and gives the capture helper its right to capture,
# unless a dpkg-statoverride holds the helper's owner and mode.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh build
cmake -S . -B build-package -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DQUORVEL_TESTS=OFF -DQUORVEL_BENCH=OFF
cmake --build build-package -j"$(nproc)"
(cd build-package && cpack -G DEB)
ls build-package/*.deb
