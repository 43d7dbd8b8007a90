#!/usr/bin/env bash
# The Debian package, built from this build tree, installed and purged by dpkg inside mount
# namespaces where /etc, /usr and /var are overlays with throw-away upper layers: the group
# that the package finds or creates, an administrator's dpkg-statoverride, and the helper's
# owner, mode and capability; then `cmake --install` of the build tree, whose grant of rights
# runs no script found in the prefix and grants nothing that others than root could redirect.
# The real system only lends its files to read; the test checks afterwards that what the cases
# change is, on the real system, as it was.
# Usage: test_packaging.sh BUILD_DIR CMAKE CPACK
# Exits 77 (skipped), saying why, without root, dpkg, unshare or overlayfs.
set -euo pipefail
export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
export LC_ALL=C DEBIAN_FRONTEND=noninteractive

skip() {
  echo "SKIP: $*"
  exit 77
}

failures=0
check() { # what expected actual
  if [[ "$2" == "$3" ]]; then
    echo "ok:   $1"
  else
    echo "FAIL: $1: expected '$2', got '$3'"
    failures=$((failures + 1))
  fi
}

# ---- Inside a namespace: one case on a fresh copy of the system ---------------------------

owner_mode() { stat -c '%U:%G %a' -- "$1"; }
owner_mode_followed() { stat -L -c '%U:%G %a' -- "$1"; }
capabilities() { getcap -- "$1" | awk '{print $2}'; }
group_line() { getent group "$1" || echo "(no group $1)"; }

dpkg_quiet() { # dpkg's output is shown only when it fails
  local log
  log=$(dpkg "$@" 2>&1) || {
    echo "$log"
    echo "FAIL: dpkg $*"
    exit 1
  }
  printf '%s\n' "$log" >>"$scratch/dpkg.log"
}

in_namespace() {
  local case_name=$1
  deb=$2 helper=$3 group=$4 privilege=$5 build=$6 cmake=$7 scratch=$8

  # Nothing is written before the three overlays are in place: any failure stops here.
  mount --make-rprivate /
  mount -t tmpfs -o mode=0700 quorvel-test "$scratch"
  local dir name
  for dir in /etc /usr /var; do
    name=${dir#/}
    mkdir "$scratch/$name-upper" "$scratch/$name-work"
    mount -t overlay "quorvel-test-$name" \
      -o "lowerdir=$dir,upperdir=$scratch/$name-upper,workdir=$scratch/$name-work" "$dir"
    [[ $(findmnt -n -o FSTYPE --mountpoint "$dir") == overlay ]]
  done

  # A known start, whatever the real system holds: no package, no override, no group.
  if dpkg-query -W -f='${db:Status-Status}' quorvel 2>/dev/null | grep -qv '^not-installed$'; then
    dpkg_quiet --purge quorvel
  fi
  if dpkg-statoverride --list "$helper" >/dev/null; then
    dpkg-statoverride --remove "$helper"
  fi
  if getent group "$group" >/dev/null; then
    groupdel --force "$group"
  fi

  local granted_owner_mode granted_capabilities
  case "$privilege" in
    capabilities) granted_owner_mode="root:$group 750" granted_capabilities=cap_net_raw=ep ;;
    setuid-root) granted_owner_mode="root:$group 4750" granted_capabilities="" ;;
    none) granted_owner_mode="root:root 755" granted_capabilities="" ;;
  esac

  case "$case_name" in
    plain)
      dpkg_quiet --install "$deb"
      local line
      line=$(group_line "$group")
      check "the group is created" "$group" "${line%%:*}"
      local gid=${line#*:*:}
      gid=${gid%%:*}
      check "the group is a system group (gid $gid)" yes "$([[ $gid -lt 1000 ]] && echo yes)"
      check "the helper's owner and mode" "$granted_owner_mode" "$(owner_mode "$helper")"
      check "the helper's capabilities" "$granted_capabilities" "$(capabilities "$helper")"
      dpkg_quiet --purge quorvel
      check "purge removes the helper" gone "$([[ -e $helper ]] && echo there || echo gone)"
      check "purge keeps the group" "$line" "$(group_line "$group")"
      ;;
    existing-group)
      # An administrator's system group, made before the package.
      local gid=999
      while getent group "$gid" >/dev/null; do gid=$((gid - 1)); done
      groupadd --gid "$gid" "$group"
      useradd --no-create-home --no-user-group --groups "$group" --shell /usr/sbin/nologin \
        qvmember
      local before
      before=$(group_line "$group")
      check "the group before" "$group:x:$gid:qvmember" "$before"
      dpkg_quiet --install "$deb"
      check "install keeps the group, its gid and its member" "$before" "$(group_line "$group")"
      check "the helper's owner and mode" "$granted_owner_mode" "$(owner_mode "$helper")"
      dpkg_quiet --purge quorvel
      check "purge keeps the group, its gid and its member" "$before" "$(group_line "$group")"
      ;;
    user-group)
      # A login user's own group of that name: no right goes with it.
      local gid=4242
      while getent group "$gid" >/dev/null; do gid=$((gid + 1)); done
      groupadd --gid "$gid" "$group"
      dpkg_quiet --install "$deb"
      check "postinst says the group is not a system group" 1 \
        "$(grep -c "is not a system group" "$scratch/dpkg.log")"
      check "the helper's owner and mode" "root:root 755" "$(owner_mode "$helper")"
      check "the helper gets no capability" "" "$(capabilities "$helper")"
      dpkg_quiet --purge quorvel
      ;;
    statoverride)
      dpkg-statoverride --add root root 0700 "$helper"
      local override="root root 700 $helper"
      # The second install is an upgrade: postinst runs again, over an installed helper.
      dpkg_quiet --install "$deb"
      dpkg_quiet --install "$deb"
      check "postinst says it leaves the helper alone, once a run" 2 \
        "$(grep -c "dpkg-statoverride" "$scratch/dpkg.log")"
      check "the helper's owner and mode stay the override's" "root:root 700" \
        "$(owner_mode "$helper")"
      check "the helper gets no capability" "" "$(capabilities "$helper")"
      check "the override stays" "$override" "$(dpkg-statoverride --list "$helper")"
      check "the group is created all the same" "$group" "$(group_line "$group" | cut -d: -f1)"
      dpkg_quiet --purge quorvel
      check "the override outlives the package" "$override" "$(dpkg-statoverride --list "$helper")"
      ;;
    cmake-install)
      # A script planted where the grant's script gets installed, as old as the build tree's,
      # which `cmake --install` therefore calls up to date and leaves.
      local libexec=/usr/local/${helper#/usr/}
      libexec=${libexec%/*}
      mkdir -p "$libexec"
      printf '#!/bin/sh\ntouch %s\n' "$scratch/planted-ran" >"$libexec/grant-capture-rights"
      chmod 0755 "$libexec/grant-capture-rights"
      touch -r "$build/packaging/grant-capture-rights" "$libexec/grant-capture-rights"
      local log
      log=$("$cmake" --install "$build" --prefix /usr/local 2>&1) || {
        echo "$log"
        echo "FAIL: cmake --install"
        exit 1
      }
      check "cmake --install runs no script from the prefix" no \
        "$([[ -e $scratch/planted-ran ]] && echo yes || echo no)"
      check "the helper's owner and mode" "$granted_owner_mode" \
        "$(owner_mode "$libexec/quorvel-capture")"
      check "the helper's capabilities" "$granted_capabilities" \
        "$(capabilities "$libexec/quorvel-capture")"

      # Helpers that whoever may change their path could swap for another file between the
      # grant's checks and its chown, chmod and setcap: it refuses them all.
      local base=/usr/lib/quorvel-test
      mkdir -p "$base"/{plain,owned,open,sticky,owned-above/inner}
      chown 65534 "$base/owned" "$base/owned-above"
      chmod 0777 "$base/open"
      chmod 1777 "$base/sticky"
      cp /bin/true "$base/victim"
      chown 65534 "$base/victim"
      ln -s "$base/victim" "$base/plain/link"
      local target attempt
      for target in plain/link owned/helper open/helper sticky/helper owned-above/inner/helper; do
        [[ -L $base/$target ]] || install -m 0755 /bin/true "$base/$target"
        local before
        before=$(owner_mode_followed "$base/$target")
        if "$build/packaging/grant-capture-rights" "$base/$target" "$privilege" 2>/dev/null; then
          attempt=granted
        else
          attempt="refused, $(owner_mode_followed "$base/$target") $(capabilities "$base/$target")"
        fi
        check "the grant refuses $target" "refused, $before " "$attempt"
      done
      ;;
  esac
  [[ $failures -eq 0 ]]
}

if [[ ${1:-} == --in-namespace ]]; then
  shift
  in_namespace "$@"
  exit
fi

# ---- Outside: what the test needs, the package, and the cases ------------------------------

build=$1 cmake=$2 cpack=$3
[[ $(id -u) -eq 0 ]] || skip "needs root: it installs a package inside mount namespaces"
for tool in dpkg dpkg-deb dpkg-query dpkg-statoverride unshare mount findmnt setcap getcap \
  groupadd groupdel useradd; do
  command -v "$tool" >/dev/null || skip "$tool is not installed"
done
[[ -f /var/lib/dpkg/status ]] || skip "this system has no dpkg database"
[[ -f $build/CPackConfig.cmake ]] || skip "$build has no CPack configuration (no packaging)"

work=$(mktemp -d /tmp/quorvel-packaging-XXXXXX)
trap 'rm -rf "$work"' EXIT

# Mounts that the cases need, tried where they can harm nothing: overlayfs over a tmpfs, and
# a file capability set through it.
mkdir "$work/probe"
# shellcheck disable=SC2016 # the inner shell expands $1
if ! why=$(unshare -m --propagation private bash -c '
    set -e
    mount -t tmpfs quorvel-probe "$1"
    mkdir "$1"/lower "$1"/upper "$1"/work "$1"/merged
    mount -t overlay quorvel-probe -o \
      lowerdir="$1"/lower,upperdir="$1"/upper,workdir="$1"/work "$1"/merged
    touch "$1"/merged/file
    setcap cap_net_raw=ep "$1"/merged/file' probe "$work/probe" 2>&1); then
  skip "no overlayfs with file capabilities in a private mount namespace here: $why"
fi

echo "building the package with cpack from $build"
if ! "$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$work/deb" >"$work/cpack.log" 2>&1
then
  cat "$work/cpack.log"
  echo "FAIL: cpack could not build the package"
  exit 1
fi
debs=("$work"/deb/*.deb)
[[ ${#debs[@]} -eq 1 && -f ${debs[0]} ]] || { echo "FAIL: cpack made no single .deb"; exit 1; }
deb=${debs[0]}
helper=$(dpkg-deb --contents "$deb" | awk '$6 ~ /\/quorvel-capture$/ {print substr($6, 2)}')
[[ -n $helper ]] || { echo "FAIL: the package holds no quorvel-capture"; exit 1; }
settings=$("$cmake" -N -L "$build" 2>/dev/null)
group=$(sed -n 's/^QUORVEL_CAPTURE_GROUP:STRING=//p' <<<"$settings")
privilege=$(sed -n 's/^QUORVEL_HELPER_PRIVILEGE:STRING=//p' <<<"$settings")
echo "package $(basename "$deb"), helper $helper, group $group, privilege $privilege"

# What the cases change in their namespaces, as the real system has it: named, so that other
# tests adding their own groups meanwhile do not count.
real_state() {
  local dir
  getent group "$group" || echo "no group $group"
  getent passwd qvmember || echo "no user qvmember"
  dpkg-statoverride --list
  dpkg-query -W -f='${db:Status-Abbrev} ${Version}\n' quorvel 2>&1 || true
  for dir in "${helper%/*}" "/usr/local/${helper#/usr/}" /usr/lib/quorvel-test; do
    ls -la --time-style=full-iso "${dir%/quorvel-capture}" 2>&1 || true
  done
}
before=$(real_state)

for case_name in plain existing-group user-group statoverride cmake-install; do
  echo "--- $case_name"
  mkdir "$work/$case_name"
  unshare -m --propagation private "$0" --in-namespace "$case_name" "$deb" "$helper" "$group" \
    "$privilege" "$build" "$cmake" "$work/$case_name" || failures=$((failures + 1))
done

echo "--- the real system"
check "the group, the user, statoverrides, the package's record and folders are untouched" \
  "$before" "$(real_state)"
[[ $failures -eq 0 ]]
