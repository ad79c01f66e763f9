#!/bin/bash
# SPDX-License-Identifier: MIT
# Run by tools/deb/check.sh as root inside the copy of a clean Debian root,
# with the packages installed and only loopback for a network: what landed
# where, the programs as an unprivileged user (as-user.sh), nothing written
# under /usr meanwhile, and apt-get purge leaving the user's pictures.
#
# Usage: in-root.sh POLL_SECONDS
set -euo pipefail
poll=${1:-0.2}
check=/tmp/orvex-check
out=$check/out
user=viewer
home=/home/$user
mkdir -p "$out"
chmod 777 "$out"

fail() {
    echo "in-root.sh: FAIL: $*"
    exit 1
}

for file in /usr/bin/orvex /usr/bin/orvex-crosshair /usr/bin/orvex-plain /usr/bin/orvex-camsim \
    /usr/share/applications/orvex.desktop /usr/share/applications/orvex-crosshair.desktop \
    /usr/share/applications/orvex-plain.desktop /usr/share/icons/hicolor/scalable/apps/orvex.svg \
    /usr/share/metainfo/org.orvex.Orvex.metainfo.xml /usr/share/man/man1/orvex.1.gz \
    /usr/share/man/man1/orvex-camsim.1.gz; do
    [ -e "$file" ] || fail "$file is not installed"
done
grep -qx 'Exec="/usr/bin/orvex"' /usr/share/applications/orvex.desktop ||
    fail "orvex.desktop does not start /usr/bin/orvex: $(grep '^Exec=' /usr/share/applications/orvex.desktop)"
echo "in-root.sh: the programs, menu entries, icon, metainfo and manual pages are in place"

stamp=$check/before-programs
touch "$stamp"
setpriv --reuid="$user" --regid="$user" --init-groups \
    env -i HOME="$home" USER="$user" LOGNAME="$user" PATH=/usr/bin:/bin LANG=C.UTF-8 \
    bash "$check/as-user.sh" "$poll" "$out"

written=$(find /usr -newer "$stamp" | head -n 20)
[ -z "$written" ] || fail "written under /usr while the programs ran: $written"
echo "in-root.sh: nothing written under /usr"

pictures=$home/Pictures/Orvex
saved=$(ls "$pictures")
DEBIAN_FRONTEND=noninteractive apt-get -q -y purge orvex orvex-camsim >"$out/purge.log" 2>&1 ||
    fail "apt-get purge failed: $(tail -n 5 "$out/purge.log")"
for package in orvex orvex-camsim; do
    if dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null | grep -qv '^not-installed$'; then
        fail "$package is still known to dpkg after the purge"
    fi
done
left=$(ls -d /usr/bin/orvex* /usr/share/applications/orvex* /usr/share/metainfo/org.orvex.* \
    /usr/share/doc/orvex* 2>/dev/null || true)
[ -z "$left" ] || fail "left after the purge: $left"
[ "$(ls "$pictures")" = "$saved" ] || fail "the purge touched the user's pictures"
cmp "$pictures/0.jpg" "$out/frame.jpg" || fail "the purge changed 0.jpg"
echo "in-root.sh: apt-get purge removed the packages and left the user's pictures: $saved"
