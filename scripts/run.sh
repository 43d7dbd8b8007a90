#!/usr/bin/env bash
# Builds Quorvel, installs it as a Linux desktop program (the window in /usr/local/bin, the
# capture helper in /usr/local/libexec/quorvel, where only the capture group, quorvel unless
# QUORVEL_CAPTURE_GROUP says otherwise, may run it, with CAP_NET_RAW), adds the user who asked
# (SUDO_USER) to that group, and starts the installed window as that user, without root.
# Run it as root from the desktop user's session: sudo scripts/run.sh
set -euo pipefail
cd "$(dirname "$0")/.."
if [[ $(id -u) -ne 0 ]]; then
  echo "run.sh installs Quorvel: run it as root (sudo scripts/run.sh)" >&2
  exit 1
fi
# The window never runs as root: dropping its capabilities would not contain a root process.
user=${SUDO_USER:-}
if [[ -n $user ]] && ! id -u "$user" >/dev/null 2>&1; then
  echo "run.sh: SUDO_USER names no user: '$user'" >&2
  exit 1
fi
[[ -n $user && $(id -u "$user") -ne 0 ]] || user=""

scripts/deps.sh run
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr/local \
  -DQUORVEL_TESTS=OFF -DQUORVEL_BENCH=OFF
cmake --build build-release -j"$(nproc)" --target quorvel quorvel-capture
cmake --install build-release

if [[ -z $user ]]; then
  echo "run.sh: Quorvel is installed, but the window is not started as root. Run this with" \
    "sudo from the desktop user's session (sudo scripts/run.sh), or name that user:" \
    "SUDO_USER=NAME scripts/run.sh" >&2
  exit 1
fi
# The group that CMake configured the installation with.
group=$(cmake -N -L build-release 2>/dev/null | sed -n 's/^QUORVEL_CAPTURE_GROUP:STRING=//p')
if [[ -z $group ]]; then
  echo "run.sh: build-release names no capture group (QUORVEL_CAPTURE_GROUP)" >&2
  exit 1
fi
if ! id -nG "$user" | tr ' ' '\n' | grep -qx -- "$group"; then
  usermod -aG "$group" "$user"
  echo "run.sh: $user may now capture (member of the group $group); other sessions of" \
    "$user see it after logging in again" >&2
fi
# A fresh list of groups: the new membership holds for this start already.
home=$(getent passwd "$user" | cut -d: -f6)
exec env HOME="$home" USER="$user" LOGNAME="$user" \
  setpriv --reuid="$user" --regid="$(id -g "$user")" --init-groups /usr/local/bin/quorvel "$@"
