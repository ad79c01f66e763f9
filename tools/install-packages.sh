#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs the Debian/Ubuntu packages named that are not installed yet, with
# apt-get (through sudo when not root).
#
# Mirrors are sometimes caught mid-sync: an index that fails to download
# ("File has unexpected size ... Mirror sync in progress?") is reported and
# the install goes on from the indexes at hand, and downloads are retried.
# Only a package that really cannot be installed fails the install, each
# named in one line with apt's reason.
#
# A package of another architecture (wine32:i386, qtbase5-dev:arm64) brings
# that architecture in where dpkg does not have it yet. If the install then
# fails, the architecture goes again, with what of it was installed: its
# indexes, which mirrors let fall out of sync more often than the native
# ones, must not make every later apt-get update fail for nothing.
#
# Usage: tools/install-packages.sh [--for NAME] PACKAGE...
#   NAME starts the messages (default: install-packages.sh).
set -euo pipefail

who=install-packages.sh
if [ "${1:-}" = --for ]; then
    who=$2
    shift 2
fi

missing=()
for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive
# Retries cover dropped connections and a mirror's passing errors; the lock
# timeout, an unattended upgrade that holds dpkg's lock for a while.
apt=("${sudo[@]}" apt-get -o Acquire::Retries=5 -o DPkg::Lock::Timeout=600)
log=$(mktemp)
trap 'rm -f "$log"' EXIT

# Architectures this install adds, to be taken away again if it fails.
added=()
native=$(dpkg --print-architecture 2>/dev/null || true)
for p in "${missing[@]}"; do
    arch=${p##*:}
    case "$arch" in "$p" | "$native" | any | native) continue ;; esac
    dpkg --print-foreign-architectures | grep -qx "$arch" && continue
    "${sudo[@]}" dpkg --add-architecture "$arch"
    added+=("$arch")
done
failed() {
    local arch theirs
    for arch in "${added[@]}"; do
        mapfile -t theirs < <(dpkg-query -W -f='${binary:Package}\n' 2>/dev/null | grep ":$arch\$" || true)
        if [ ${#theirs[@]} -gt 0 ]; then
            "${apt[@]}" -q -y purge "${theirs[@]}" >"$log" 2>&1 || true
        fi
        if "${sudo[@]}" dpkg --remove-architecture "$arch" >"$log" 2>&1; then
            echo "$who: the $arch architecture, added for this install, is removed again"
        else
            echo "$who: the $arch architecture, added for this install, could not be removed: $(head -n1 "$log")"
        fi
    done
    exit 1
}

echo "$who: installing ${missing[*]}"
if ! "${apt[@]}" -q update >"$log" 2>&1; then
    echo "$who: some package indexes could not be downloaded; installing from those at hand:"
    grep -E '^(E|W|Err):' "$log" | grep -v 'Some index files failed' | head -n 3 | sed 's/^/  /' || true
fi
if "${apt[@]}" -q -y --no-install-recommends install "${missing[@]}" >"$log" 2>&1; then
    exit 0
fi
install_error=$(grep -m1 '^E:' "$log" | sed 's/^E: //' || true)

# One line for each package apt cannot install, with its reason: the first
# unmet dependency where there is one, else apt's error. The others are
# installed all the same, so that one missing package costs only itself.
installable=()
for p in "${missing[@]}"; do
    if apt-get -q -s --no-install-recommends install "$p" >"$log" 2>&1; then
        installable+=("$p")
    else
        reason=$(grep -m1 -E '^ .*: (Pre)?Depends: ' "$log" | sed 's/^ *//' || true)
        [ -n "$reason" ] || reason=$(grep -m1 '^E:' "$log" | sed 's/^E: //' || true)
        echo "$who: cannot install $p: ${reason:-apt-get gave no reason}"
    fi
done
if [ ${#installable[@]} -eq ${#missing[@]} ]; then
    # Each one installable, yet the install failed: a download that failed
    # for good, a full disk, a broken dpkg.
    echo "$who: the install failed: ${install_error:-apt-get gave no reason}"
elif [ ${#installable[@]} -gt 0 ] &&
    ! "${apt[@]}" -q -y --no-install-recommends install "${installable[@]}" >"$log" 2>&1; then
    echo "$who: the install of ${installable[*]} failed too: $(grep -m1 '^E:' "$log" | sed 's/^E: //' || true)"
fi
failed
