#!/usr/bin/env bash
# Builds Quorvel, installs it as a Linux desktop program (the window in /usr/local/bin, the
# capture helper in /usr/local/libexec/quorvel, where only the group quorvel may run it, with
# CAP_NET_RAW), adds the user who asked (SUDO_USER, else the current user) to the group, and
# starts the installed window as that user, without root. Run it as root: sudo scripts/run.sh
set -euo pipefail
cd "$(dirname "$0")/.."
if [[ $(id -u) -ne 0 ]]; then
  echo "run.sh installs Quorvel: run it as root (sudo scripts/run.sh)" >&2
  exit 1
fi
scripts/deps.sh run
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr/local \
  -DQUORVEL_TESTS=OFF -DQUORVEL_BENCH=OFF
cmake --build build-release -j"$(nproc)" --target quorvel quorvel-capture
cmake --install build-release

user=${SUDO_USER:-$(id -un)}
if ! id -nG "$user" | tr ' ' '\n' | grep -qx quorvel; then
  usermod -aG quorvel "$user"
  echo "run.sh: $user may now capture (member of the group quorvel); other sessions of" \
    "$user see it after logging in again" >&2
fi
# A fresh list of groups: the new membership holds for this start already.
home=$(getent passwd "$user" | cut -d: -f6)
exec env HOME="$home" USER="$user" LOGNAME="$user" \
  setpriv --reuid="$user" --regid="$(id -g "$user")" --init-groups /usr/local/bin/quorvel "$@"
