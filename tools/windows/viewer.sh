# SPDX-License-Identifier: MIT
# shellcheck shell=bash disable=SC2154 # work, frame and wine are the caller's
# Sourced by the checks that drive orvex.exe under Wine on an X display
# (e2e.sh, setup-check.sh), after wineprocs.sh. The caller sets work (its
# folder), frame (the JPEG the simulator replays, made by make_frame) and
# wine, and defines fail.

# make_frame: four quadrants of their own colour, away from the crosshair,
# the circle and the frame-rate text, so each tells whether the picture is
# there; into $frame, the only picture in its folder.
make_frame() {
    mkdir -p "$(dirname "$frame")"
    convert -size 320x240 xc:'#d02020' xc:'#20c020' +append \
        \( -size 320x240 xc:'#2040d0' xc:'#e0d020' +append \) -append -quality 90 "$frame"
}
declare -A expected=([100,60]="208 32 32" [540,60]="32 192 32" [100,420]="32 64 208" [540,420]="224 208 32")

free_port() {
    python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# start_simulator EXE PORT LOG: the simulator replaying $frame on
# 127.0.0.1:PORT; sets simulator.
start_simulator() {
    "$wine" "$1" --listen 127.0.0.1 --port "$2" --replay "Z:$(dirname "$frame")" --fps 20 \
        --status-every 0 >"$3" 2>&1 &
    simulator=$!
    pids+=("$simulator")
    wait_port "$2" 120 || fail "the simulator does not listen"
}

# stop_simulator PORT: ends it and waits until PORT is closed.
stop_simulator() {
    kill "$simulator" 2>/dev/null || true
    wait "$simulator" 2>/dev/null || true
    local deadline=$((SECONDS + 60))
    while (exec 3<>/dev/tcp/127.0.0.1/"$1") 2>/dev/null; do
        [ $SECONDS -lt $deadline ] || fail "the simulator stays"
        sleep 0.2
    done
}

# Fields and buttons at their places in the form.
click() { xdotool mousemove --window "$window" "$1" "$2" click 1; }
fill() {
    click "$1" "$2"
    xdotool key --clearmodifiers ctrl+a
    xdotool type --delay 20 "$3"
}

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

# start_viewer FOLDER LOG [PROGRAM]: orvex.exe (or PROGRAM, a Windows path)
# started from FOLDER; sets window and viewer.
start_viewer() {
    (cd "$1" && exec "$wine" "${3:-orvex.exe}" >"$2" 2>&1) &
    viewer=$!
    pids+=("$viewer")
    window=$(wait_window 180) || fail "no Orvex window"
    echo "${check_name:-e2e}: window $window"
}

# stop_viewer: ends it and waits until its window is gone.
stop_viewer() {
    kill "$viewer" 2>/dev/null || true
    wait "$viewer" 2>/dev/null || true
    local deadline=$((SECONDS + 60))
    while xdotool search --onlyvisible --name '^Orvex$' >/dev/null 2>&1; do
        [ $SECONDS -lt $deadline ] || fail "the window stays"
        sleep 0.5
    done
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
    echo "${check_name:-e2e}: the live picture shows"
}

# capture FILE: clicks Capture and waits for FILE to hold the very frame
# sent.
capture() {
    click 580 513
    local deadline=$((SECONDS + 60))
    until cmp -s "$frame" "$1"; do
        [ $SECONDS -lt $deadline ] || break
        sleep 0.2
    done
    [ -e "$1" ] || fail "Capture saved no $1"
    cmp "$frame" "$1" || fail "$1 differs from the frame the simulator sent"
}

# pictures_folder: the Unix path of the Pictures folder of the prefix's user,
# wherever Wine links it.
pictures_folder() {
    local profile pictures
    profile=$("$wine" cmd /c 'echo %USERPROFILE%' | tr -d '\r')
    pictures=$("$wine" winepath -u "$profile\\Pictures" | tr -d '\r')
    [ -d "$pictures" ] || fail "the prefix has no Pictures folder at $pictures"
    realpath "$pictures"
}
