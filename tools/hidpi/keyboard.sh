# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# Sourced by the display-scale checks (tools/hidpi/check.sh and
# tools/windows/hidpi.sh): the user's way to a live picture, typed.

# connect_and_shoot WINDOW PORT SHOT TYPE_DELAY_MS POLL_S
# With the address field focused: types 127.0.0.1, Tab, PORT, Enter, then Tab
# away from the fields (no blinking text cursor in a screenshot), and waits
# until a screenshot of WINDOW into SHOT shows the camera's picture. Then one
# more screenshot, so that the button's new text has certainly been painted.
# Fails when the picture does not come.
connect_and_shoot() {
    local window=$1 port=$2 shot=$3 delay=$4 poll=$5
    xdotool key --clearmodifiers ctrl+a
    xdotool type --delay "$delay" 127.0.0.1
    xdotool key Tab ctrl+a
    xdotool type --delay "$delay" "$port"
    xdotool key Return
    xdotool key Tab
    local _
    for _ in $(seq 100); do
        sleep "$poll"
        import -window "$window" "$shot" 2>/dev/null || continue
        if python3 "$(dirname "${BASH_SOURCE[0]}")/shotcheck.py" picture-shown "$shot"; then
            sleep "$poll"
            import -window "$window" "$shot"
            return 0
        fi
    done
    return 1
}
