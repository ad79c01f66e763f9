#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Checks the setup program under Wine, on an X display (tools/windows/test.sh
# runs it inside xvfb-run), in a Wine prefix of its own, as a user meets it:
#   - /D= folders it cannot install into are refused, with nothing written;
#   - a silent install (/S) puts exactly the programs and the uninstaller
#     into %LOCALAPPDATA%\Programs\Orvex, four Start menu shortcuts and one
#     entry in Settings > Apps;
#   - the installed orvex.exe, against the installed simulator on 127.0.0.1,
#     saves a Capture byte for byte into Pictures\Orvex, nothing beside
#     itself;
#   - installing again while it runs is refused with the copy left whole,
#     and so is a replace failing half-way; once it is closed, the install
#     goes over it in place;
#   - the uninstaller, as Settings > Apps' QuietUninstallString runs it,
#     refuses while the simulator runs and then removes every file,
#     shortcut, the entry and the folder, and leaves the picture;
#   - nothing at all is written outside the user's profile and HKCU.
#
# Usage: tools/windows/setup-check.sh BUILD_DIR WINE
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(realpath "$1")
wine=$2
: "${DISPLAY:?setup-check.sh needs an X display}"

work=$build/setup-check
frame=$work/replay/frame.jpg
check_name=setup
export WINEDEBUG=-all
# winemenubuilder would copy the shortcuts into the menus of this machine's
# own desktop.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"

fail() {
    echo "setup FAIL: $*"
    exit 1
}

# Wine run by root writes anywhere: a folder refuses writes through a
# read-only bind mount, which needs a mount namespace (root's own, or one in
# a user namespace), with the prefix's wineserver started inside it too.
if [ "${3:-}" != --in-namespace ]; then
    namespace=(unshare --mount --propagation private)
    [ "$(id -u)" -eq 0 ] || namespace=(unshare --user --map-root-user --mount --propagation private)
    exec "${namespace[@]}" "$0" "$build" "$wine" --in-namespace
fi

# shellcheck source=tools/windows/wineprocs.sh
. "$here/wineprocs.sh"
# shellcheck source=tools/windows/viewer.sh
. "$here/viewer.sh"

setups=("$build"/orvex-*-setup.exe)
[ ${#setups[@]} -eq 1 ] && [ -f "${setups[0]}" ] || fail "not one setup program in $build: ${setups[*]}"
setup=${setups[0]}
# What must be installed: the files staged for the setup program.
staged=$build/setup-files/Orvex
[ -d "$staged" ] || fail "no $staged"

rm -rf "$work"
mkdir -p "$work/read-only/Orvex"
mount --bind "$work/read-only" "$work/read-only"
mount -o remount,bind,ro "$work/read-only"
make_frame
# A home of the check's own: the prefix links the user's Pictures there, and
# the host's menus would be there.
export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config XDG_DATA_HOME=$work/home/.local/share
mkdir -p "$HOME/Pictures" "$XDG_CONFIG_HOME"
# In the file's own notation, $HOME for whoever reads it.
# shellcheck disable=SC2016
printf 'XDG_PICTURES_DIR="$HOME/Pictures"\n' >"$XDG_CONFIG_HOME/user-dirs.dirs"
export WINEPREFIX=${ORVEX_WINE_PREFIXES:-$build}/wineprefix-setup
rm -rf "$WINEPREFIX"
mkdir -p "$(dirname "$WINEPREFIX")"

# Windows paths of the prefix's user, and their places here.
winvar() { "$wine" cmd /c "echo %$1%" | tr -d '\r'; }
unix() { "$wine" winepath -u "$1" | tr -d '\r'; }
profile=$(winvar USERPROFILE)
installed_win="$(winvar LOCALAPPDATA)\\Programs\\Orvex"
installed=$(unix "$installed_win")
menu=$(unix "$(winvar APPDATA)\\Microsoft\\Windows\\Start Menu\\Programs\\Orvex")
pictures=$(pictures_folder)/Orvex
profile_unix=$(realpath "$(unix "$profile")")
key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Orvex'

# Everything outside the profile: the files of drive C: (the profile's
# folders apart) and the values of the machine's registry (HKLM), as the
# wineserver saves it. Not the keys Wine itself rewrites at each start, as
# it finds the display, the input devices and the network cards again, nor
# the times keys were written, nor keys without values, which Wine makes as
# it looks for them.
outside_profile() {
    wineserver -w
    local drive
    drive=$(realpath "$WINEPREFIX/drive_c")
    (cd "$drive" && find . -path "./${profile_unix#"$drive"/}" -prune -o -printf '%p %s %T@\n' | LC_ALL=C sort)
    python3 - "$WINEPREFIX/system.reg" <<'EOF'
import re
import sys

wines_own = re.compile(r"System\\\\CurrentControlSet\\\\(Enum|Control\\\\Class|Control\\\\DeviceClasses)\\\\"
                       r"|Software\\\\Microsoft\\\\Windows NT\\\\CurrentVersion\\\\NetworkCards\\\\")
key = None
values = []
with open(sys.argv[1], encoding="utf-8", errors="replace") as registry:
    for line in registry:
        line = line.rstrip("\n")
        header = re.match(r"^\[(.*)\] \d+$", line)
        if header:
            key = header.group(1) + "\\\\"
        elif key and not wines_own.match(key) and line and not line.startswith("#"):
            values.append(key + " " + line)
print("\n".join(sorted(values)))
EOF
}
outside_profile >"$work/outside-before"

# run_setup ARGS...: the setup program, silent; sets status.
run_setup() {
    status=0
    "$wine" "$setup" /S "$@" || status=$?
}

# installed_whole: the folder holds the staged files and the uninstaller,
# byte for byte, and nothing else.
installed_whole() {
    diff -r -x uninstall.exe "$staged" "$installed" >&2 || return 1
    [ -f "$installed/uninstall.exe" ] || return 1
}

# --- Folders it must refuse --------------------------------------------------

for refused in "Z:${work//\//\\}\\read-only\\Orvex" "Z:${work//\//\\}\\read-only\\new\\Orvex" 'Q:\Orvex'; do
    run_setup "/D=$refused"
    [ "$status" -ne 0 ] || fail "/D=$refused: installed (exit 0) where it cannot write"
    [ ! -e "$installed" ] || fail "/D=$refused: installed into $installed instead"
    echo "setup: /D=$refused refused (exit $status)"
done
[ -z "$(ls -A "$work/read-only/Orvex")" ] || fail "files written into the read-only folder"
if "$wine" reg query "$key" >/dev/null 2>&1; then
    fail "an entry in Settings > Apps after refused installs"
fi

# --- The install -------------------------------------------------------------

run_setup
[ "$status" -eq 0 ] || fail "the silent install exited with $status"
installed_whole || fail "$installed does not hold exactly the programs and the uninstaller"
"$here/check-manifest.py" --setup "$setup" "$installed/uninstall.exe" ||
    fail "the setup program or its uninstaller is not a 32-bit GUI program with manifest and version"
echo "setup: installed into $installed_win"

# Each shortcut names its program by its full path.
for shortcut in "Orvex:orvex.exe" "Orvex Crosshair:orvex-crosshair.exe" "Orvex Plain:orvex-plain.exe" \
    "Orvex Camera Simulator:orvex-camsim.exe"; do
    lnk="$menu/${shortcut%%:*}.lnk"
    [ -f "$lnk" ] || fail "no shortcut $lnk"
    python3 - "$lnk" "$installed_win\\${shortcut#*:}" <<'EOF' || fail "$lnk does not start $installed_win\\${shortcut#*:}"
import sys
data = open(sys.argv[1], "rb").read().lower()
target = sys.argv[2].lower()
sys.exit(0 if target.encode("utf-16-le") in data or target.encode("latin-1") in data else 1)
EOF
done
[ "$(ls "$menu" | wc -l)" -eq 4 ] || fail "shortcuts beside the four: $(ls "$menu")"
[ ! -e "$XDG_DATA_HOME/applications" ] || fail "shortcuts reached the host's menus: $(ls -R "$XDG_DATA_HOME/applications")"

# value NAME: the data of the entry's value NAME, as reg prints it.
value() { sed -n "s/^    $1    REG_[A-Z]*    //p" "$work/entry"; }

# check_entry: one entry, naming this copy.
check_entry() {
    local entries
    entries=$("$wine" reg query 'HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall' | tr -d '\r' | grep -ci orvex || true)
    [ "$entries" -eq 1 ] || fail "$entries entries of Orvex in Settings > Apps, not one"
    "$wine" reg query "$key" | tr -d '\r' >"$work/entry"
    local version name expected
    version=$(basename "$setup" | sed 's/^orvex-\(.*\)-win[0-9]*-setup\.exe$/\1/')
    while IFS='|' read -r name expected; do
        [ "$(value "$name")" = "$expected" ] || fail "the entry's $name is '$(value "$name")', not '$expected'"
    done <<EOF
DisplayName|Orvex
DisplayVersion|$version
Publisher|The Orvex developers
DisplayIcon|$installed_win\orvex.exe,0
InstallLocation|$installed_win
UninstallString|"$installed_win\uninstall.exe" _?=$installed_win
QuietUninstallString|"$installed_win\uninstall.exe" /S _?=$installed_win
NoModify|0x1
NoRepair|0x1
EOF
    # In KiB: the files' size, give or take rounding.
    local size actual
    size=$(($(value EstimatedSize)))
    actual=$(($(du -sb "$staged" | cut -f1) / 1024))
    [ $size -ge $((actual - 16)) ] && [ $size -le $((actual + actual / 100 + 16)) ] ||
        fail "EstimatedSize is $size KiB; the files take $actual"
}
check_entry

# --- Capture with the installed programs -------------------------------------

port=$(free_port)
start_simulator "$installed/orvex-camsim.exe" "$port" "$work/camsim.log"
start_viewer "$installed" "$work/orvex.log"
connect "$port"
capture "$pictures/0.jpg"
installed_whole || fail "files beside the programs after a Capture"
echo "setup: the installed orvex.exe saved the frame sent into $pictures/0.jpg"

# --- Install again -----------------------------------------------------------

stop_simulator "$port"
run_setup
[ "$status" -ne 0 ] || fail "installed over orvex.exe while it runs (exit 0)"
installed_whole || fail "the installed copy changed while orvex.exe runs"
echo "setup: installing over the running orvex.exe refused (exit $status), the copy whole"
stop_viewer
# A rename that fails half-way (orvex.exe, the last, cannot be set aside):
# the files already replaced get their old selves back. README.txt, replaced
# before it, is marked to tell the old self from the new.
printf 'marked\r\n' >>"$installed/README.txt"
cp "$installed/README.txt" "$work/README.marked"
mkdir "$installed/orvex.exe.orvex-old"
run_setup
[ "$status" -ne 0 ] || fail "installed although orvex.exe could not be set aside (exit 0)"
rmdir "$installed/orvex.exe.orvex-old"
cmp "$work/README.marked" "$installed/README.txt" || fail "README.txt was not put back after the failed replace"
cp "$staged/README.txt" "$installed/README.txt"
installed_whole || fail "the copy is not whole after the failed replace"
echo "setup: a replace failing half-way put every file back (exit $status)"
run_setup
[ "$status" -eq 0 ] || fail "installing again exited with $status"
installed_whole || fail "installing again left $installed other than whole"
check_entry
cmp "$frame" "$pictures/0.jpg" || fail "installing again touched the picture"
echo "setup: installed again in place, one entry"

# --- Uninstall, as Settings > Apps' QuietUninstallString ---------------------

# The program and its arguments, as Windows splits them: the program in
# quotes, then /S and _?= with the folder, which holds no space here.
[[ "$(value QuietUninstallString)" =~ ^\"([^\"]+)\"\ (.*)$ ]] || fail "QuietUninstallString: $(value QuietUninstallString)"
uninstaller=${BASH_REMATCH[1]}
read -ra arguments <<<"${BASH_REMATCH[2]}"
uninstall() {
    status=0
    "$wine" "$uninstaller" "${arguments[@]}" || status=$?
}
port=$(free_port)
start_simulator "$installed/orvex-camsim.exe" "$port" "$work/camsim.log"
uninstall
[ "$status" -ne 0 ] || fail "uninstalled while the simulator runs (exit 0)"
installed_whole || fail "the uninstaller took files away while the simulator runs"
check_entry
echo "setup: uninstalling while orvex-camsim.exe runs refused (exit $status), the copy whole"
stop_simulator "$port"
uninstall
[ "$status" -eq 0 ] || fail "the silent uninstall exited with $status"
# The uninstaller's own file, and then the folder, go once it has ended.
deadline=$((SECONDS + 60))
while [ -e "$installed" ] && [ $SECONDS -lt $deadline ]; do sleep 0.2; done
[ ! -e "$installed" ] || fail "left behind: $(find "$installed")"
[ ! -e "$menu" ] || fail "shortcuts left behind: $(ls "$menu")"
if "$wine" reg query "$key" >/dev/null 2>&1; then
    fail "the entry stays in Settings > Apps"
fi
cmp "$frame" "$pictures/0.jpg" || fail "the uninstaller touched the picture"
echo "setup: uninstalled; programs, shortcuts and entry gone, the picture kept"

outside_profile >"$work/outside-after"
diff "$work/outside-before" "$work/outside-after" || fail "written outside the profile (above)"
echo "setup: ok, nothing written outside the profile and HKCU"
