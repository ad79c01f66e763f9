#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# End-to-end check of the Windows viewer under Wine, run on an X display
# (tools/windows/test.sh runs it inside xvfb-run):
# orvex.exe in a folder with a non-ASCII name, holding an old snapshot and a
# photo of the user's; the simulator (also under Wine) replays one fixed JPEG
# on 127.0.0.1. Checks: the old snapshot is purged at start and the photo
# kept, the live picture shows, and Capture saves the very bytes sent.
# Then orvex.exe again, from a folder that refuses writes as one under
# "C:\Program Files" does: Capture saves the same bytes into the Pictures
# folder of the prefix's user, under Orvex, after the snapshot already there,
# and leaves that one alone.
#
# Usage: tools/windows/e2e.sh BUILD_DIR WINE
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(realpath "$1")
wine=$2
: "${DISPLAY:?e2e.sh needs an X display}"

work=$build/e2e
frame=$work/replay/frame.jpg
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

# shellcheck source=tools/windows/wineprocs.sh
. "$here/wineprocs.sh"
# shellcheck source=tools/windows/viewer.sh
. "$here/viewer.sh"

fail() {
    echo "e2e FAIL: $*"
    exit 1
}

# Inside a mount namespace of its own (see the end): the folder refuses
# writes, even from root, and so does everything Wine does there, since the
# prefix's wineserver, which opens the files, starts inside it too.
if [ "${3:-}" = --read-only ]; then
    port=$4
    folder=$work/Programme/Orvex
    mount --bind "$folder" "$folder"
    mount -o remount,bind,ro "$folder"
    if touch "$folder/probe" 2>/dev/null; then
        fail "the read-only folder $folder takes files"
    fi
    # A new prefix links its user's Pictures folder to the desktop's: here
    # that of a home of the check's own, never the real user's.
    export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config
    mkdir -p "$HOME/Bilder" "$XDG_CONFIG_HOME"
    # In the file's own notation, $HOME for whoever reads it.
    # shellcheck disable=SC2016
    printf 'XDG_PICTURES_DIR="$HOME/Bilder"\n' >"$XDG_CONFIG_HOME/user-dirs.dirs"
    export WINEPREFIX=${ORVEX_WINE_PREFIXES:-$build}/wineprefix-e2e-read-only
    rm -rf "$WINEPREFIX"
    pictures=$(pictures_folder)/Orvex
    echo "e2e: the prefix's Pictures folder: $pictures"
    mkdir -p "$pictures"
    printf 'an earlier snapshot' >"$pictures/0.jpg"

    start_viewer "$folder" "$work/orvex-read-only.log"
    connect "$port"
    capture "$pictures/1.jpg"
    [ "$(cat "$pictures/0.jpg")" = "an earlier snapshot" ] || fail "the earlier snapshot was touched"
    [ "$(ls -A "$folder")" = orvex.exe ] || fail "files beside the program: $(ls -A "$folder")"
    echo "e2e: ok from a read-only folder (1.jpg identical to the frame sent, in $pictures)"
    exit 0
fi

rm -rf "$work"
folder=$work/Kamera-ß-日本
mkdir -p "$folder" "$work/replay" "$work/Programme/Orvex"
export WINEPREFIX=${ORVEX_WINE_PREFIXES:-$build}/wineprefix-e2e

make_frame

cp "$build/orvex.exe" "$folder/"
cp "$build/orvex.exe" "$work/Programme/Orvex/"
printf 'old snapshot' >"$folder/3.jpg"
printf 'holiday photo' >"$folder/holiday.jpg"

port=$(free_port)
start_simulator "$build/tools/camsim/orvex-camsim.exe" "$port" "$work/camsim.log"

start_viewer "$folder" "$work/orvex.log"
[ ! -e "$folder/3.jpg" ] || fail "3.jpg was not removed at start"
[ "$(cat "$folder/holiday.jpg")" = "holiday photo" ] || fail "holiday.jpg was touched"
connect "$port"
capture "$folder/0.jpg"
[ "$(cat "$folder/holiday.jpg")" = "holiday photo" ] || fail "holiday.jpg was touched"
echo "e2e: ok (old snapshot purged, photo kept, picture shown, 0.jpg identical to the frame sent)"

# The first window goes, the simulator stays for the second.
stop_viewer
# As root, Wine writes anywhere: the folder refuses writes through a
# read-only bind mount, which needs a mount namespace (root's own, or one in
# a user namespace).
namespace=(unshare --mount --propagation private)
[ "$(id -u)" -eq 0 ] || namespace=(unshare --user --map-root-user --mount --propagation private)
"${namespace[@]}" "$0" "$build" "$wine" --read-only "$port" ||
    fail "from a read-only folder (see above)"
