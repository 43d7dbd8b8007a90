#!/usr/bin/env bash
# Installs the Debian packages that building, testing and running Quorvel need.
# Usage: scripts/deps.sh [build|test|run]   (default: test, which is everything)
set -euo pipefail

build_packages=(cmake ninja-build g++ pkg-config qt6-base-dev libqt6svg6 libpcap-dev
                libgtest-dev libgmock-dev libbenchmark-dev fonts-liberation fonts-wine
                libcap2-bin dpkg-dev util-linux passwd)
# unicode-data: the Unicode Character Database that ui/log/UnicodeTables.cpp is generated from;
# appstream: the validator of the AppStream metainfo.
test_packages=(clang libclang-rt-14-dev g++-mingw-w64-x86-64-posix wine64 iproute2 tcpdump xvfb
               xauth imagemagick x11-utils xdotool mount xclip python3 unicode-data appstream)

case "${1:-test}" in
  build|run) wanted=("${build_packages[@]}") ;;
  test) wanted=("${build_packages[@]}" "${test_packages[@]}") ;;
  *) echo "usage: $0 [build|test|run]" >&2; exit 2 ;;
esac

missing=()
for package in "${wanted[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$package")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

if [[ $(id -u) -ne 0 ]]; then
  echo "Missing packages: ${missing[*]}; run this as root, or install them first." >&2
  exit 1
fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
