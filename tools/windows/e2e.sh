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

fail() {
    echo "e2e FAIL: $*"
    exit 1
}

# Fields and buttons at their places in the form.
click() { xdotool mousemove --window "$window" "$1" "$2" click 1; }
fill() {
    click "$1" "$2"
    xdotool key --clearmodifiers ctrl+a
    xdotool type --delay 20 "$3"
}

# Four quadrants of their own colour, away from the crosshair, the circle and
# the frame-rate text, so each tells whether the picture is there.
declare -A expected=([100,60]="208 32 32" [540,60]="32 192 32" [100,420]="32 64 208" [540,420]="224 208 32")
pixel() {
    convert "$work/shot.png" -format "%[fx:int(255*p{$1}.r)] %[fx:int(255*p{$1}.g)] %[fx:int(255*p{$1}.b)]" info:
}
close_to() {
    local a b
    read -ra a <<<"$1"
    read -ra b <<<"$2"
    for i in 0 1 2; do
        local d=$((a[i] - b[i]))
        [ ${d#-} -le 40 ] || return 1
    done
}

# start_viewer FOLDER LOG: orvex.exe from FOLDER; sets window and viewer.
start_viewer() {
    (cd "$1" && exec "$wine" orvex.exe >"$2" 2>&1) &
    viewer=$!
    pids+=("$viewer")
    window=$(wait_window 180) || fail "no Orvex window"
    echo "e2e: window $window"
}

# connect PORT: typed into the form, Start clicked; waits for the picture.
connect() {
    xdotool windowfocus --sync "$window" 2>/dev/null || true
    fill 155 513 127.0.0.1
    fill 355 513 "$1"
    click 470 513
    local shown=0 deadline=$((SECONDS + 120)) point
    while [ $SECONDS -lt $deadline ]; do
        sleep 0.5
        import -window "$window" "$work/shot.png" 2>/dev/null || continue
        shown=1
        for point in "${!expected[@]}"; do
            close_to "$(pixel "$point")" "${expected[$point]}" || shown=0
        done
        [ $shown -eq 1 ] && break
    done
    if [ $shown -ne 1 ]; then
        for point in "${!expected[@]}"; do echo "  at $point: $(pixel "$point"), expected ${expected[$point]}"; done
        fail "the live picture does not show"
    fi
    echo "e2e: the live picture shows"
}

# capture FILE: clicks Capture and waits for FILE to be written.
capture() {
    click 580 513
    local deadline=$((SECONDS + 60))
    while [ $SECONDS -lt $deadline ]; do
        [ -s "$1" ] && break
        sleep 0.2
    done
    sleep 0.5
    [ -e "$1" ] || fail "Capture saved no $1"
    cmp "$frame" "$1" || fail "$1 differs from the frame the simulator sent"
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
    # The Pictures folder of the prefix's user, wherever Wine links it.
    profile=$("$wine" cmd /c 'echo %USERPROFILE%' | tr -d '\r')
    pictures=$("$wine" winepath -u "$profile\\Pictures" | tr -d '\r')
    [ -d "$pictures" ] || fail "the prefix has no Pictures folder at $pictures"
    pictures=$(realpath "$pictures")/Orvex
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

convert -size 320x240 xc:'#d02020' xc:'#20c020' +append \
    \( -size 320x240 xc:'#2040d0' xc:'#e0d020' +append \) -append -quality 90 "$frame"

cp "$build/orvex.exe" "$folder/"
cp "$build/orvex.exe" "$work/Programme/Orvex/"
printf 'old snapshot' >"$folder/3.jpg"
printf 'holiday photo' >"$folder/holiday.jpg"

port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
"$wine" "$build/tools/camsim/orvex-camsim.exe" --listen 127.0.0.1 --port "$port" \
    --replay "Z:$work/replay" --fps 20 \
    --status-every 0 >"$work/camsim.log" 2>&1 &
pids+=($!)
wait_port "$port" 120 || fail "the simulator does not listen"

start_viewer "$folder" "$work/orvex.log"
[ ! -e "$folder/3.jpg" ] || fail "3.jpg was not removed at start"
[ "$(cat "$folder/holiday.jpg")" = "holiday photo" ] || fail "holiday.jpg was touched"
connect "$port"
capture "$folder/0.jpg"
[ "$(cat "$folder/holiday.jpg")" = "holiday photo" ] || fail "holiday.jpg was touched"
echo "e2e: ok (old snapshot purged, photo kept, picture shown, 0.jpg identical to the frame sent)"

# The first window goes, the simulator stays for the second.
kill "$viewer" 2>/dev/null || true
wait "$viewer" 2>/dev/null || true
deadline=$((SECONDS + 60))
while xdotool search --onlyvisible --name '^Orvex$' >/dev/null 2>&1; do
    [ $SECONDS -lt $deadline ] || fail "the first window stays"
    sleep 0.5
done
# As root, Wine writes anywhere: the folder refuses writes through a
# read-only bind mount, which needs a mount namespace (root's own, or one in
# a user namespace).
namespace=(unshare --mount --propagation private)
[ "$(id -u)" -eq 0 ] || namespace=(unshare --user --map-root-user --mount --propagation private)
"${namespace[@]}" "$0" "$build" "$wine" --read-only "$port" ||
    fail "from a read-only folder (see above)"
