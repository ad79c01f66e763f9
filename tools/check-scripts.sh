#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Checks that the Windows and fuzzing scripts fail loudly and clean up after
# themselves. Each case runs its script in a scratch copy of its part of the
# tree, with fakes standing in for apt, the cross compilers, Wine, cmake and
# the fuzzer, on a PATH that holds nothing else but basic tools: nothing is
# installed, built or fetched. Takes seconds.
#
# Usage: tools/check-scripts.sh           every case
#        tools/check-scripts.sh NAME...   these cases alone
#        tools/check-scripts.sh --list    the cases' names
#
# The fakes are the programs in tools/fakes/, one folder per script under
# test and common/ for those several share; a case's settings reach them as
# FAKE_* variables, and FAKE_STATE is the case's own folder.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD

# --- the cases' tools ---------------------------------------------------------

# expect <what> <command...>: one line per check; the case's log on failure.
expect() {
    local what=$1
    shift
    checks=$((checks + 1))
    if "$@"; then
        echo "ok   $case_name: $what"
    else
        echo "FAIL $case_name: $what"
        sed 's/^/     | /' "$case_dir/log" | tail -n 15
        failures=$((failures + 1))
    fi
}

# new_case <name>: a fresh scratch folder with an empty folder of fakes.
new_case() {
    case_name=$1
    case_dir=$(mktemp -d "$sandbox/case.XXXXXX")
    fakes=$case_dir/bin
    mkdir -p "$fakes"
    : >"$case_dir/log"
}

# fake <file> [<name> [<folder>]]: tools/fakes/<file> as the program <name>
# (by default its own name) in <folder> (by default the case's PATH).
fake() {
    local file=$1
    local name=${2:-$(basename "$file")} folder=${3:-$fakes}
    mkdir -p "$folder"
    cp "$repo/tools/fakes/$file" "$folder/$name"
    chmod +x "$folder/$name"
}

# copy_tree <files...>: these files of the repository into the case's tree.
copy_tree() {
    local file
    for file in "$@"; do
        mkdir -p "$case_dir/tree/$(dirname "$file")"
        cp "$repo/$file" "$case_dir/tree/$file"
    done
}

# run <command...>: runs it on the fakes' PATH, logging; sets $status.
run() {
    status=0
    env PATH="$fakes:$sysbin" FAKE_STATE="$case_dir" TMPDIR="$case_dir" "$@" >>"$case_dir/log" 2>&1 || status=$?
}

# Not yet exited: a child that has is a zombie until waited for.
running() {
    local state
    state=$(sed 's/.*) //' "/proc/$1/stat" 2>/dev/null | cut -c1) || true
    [ -n "$state" ] && [ "$state" != Z ]
}

# interrupt <ready file> <command...>: starts it as a job of its own, sends
# the job SIGINT (as Ctrl-C in a terminal does) once the ready file exists,
# and sets $status. Job control, as in a terminal: a plain background command
# would start with SIGINT ignored.
interrupt() {
    local ready=$1
    shift
    set -m
    env PATH="$fakes:$sysbin" FAKE_STATE="$case_dir" TMPDIR="$case_dir" "$@" >>"$case_dir/log" 2>&1 &
    local pid=$! tries=0
    set +m
    while [ ! -e "$ready" ] && [ $tries -lt 100 ]; do
        sleep 0.1
        tries=$((tries + 1))
    done
    lines_at_interrupt=$(wc -l <"$case_dir/log")
    kill -INT -- -"$pid" 2>/dev/null || true
    tries=0
    while running "$pid" && [ $tries -lt 100 ]; do
        sleep 0.1
        tries=$((tries + 1))
    done
    kill -KILL -- -"$pid" 2>/dev/null && echo "(still running 10 s after SIGINT: killed)" >>"$case_dir/log"
    status=0
    wait "$pid" || status=$?
}

failed() { [ "$status" -ne 0 ]; }
not() { ! "$@"; }
succeeded() { [ "$status" -eq 0 ]; }
none_like() { ! compgen -G "$1" >/dev/null; }
logged() { grep -q -- "$1" "$case_dir/log"; }
# last_line_is <line>: the case's log ends with exactly this line.
last_line_is() { [ "$(tail -n1 "$case_dir/log")" = "$1" ]; }

# --- tools/install-packages.sh: a mirror mid-sync, a package not to be had --

install_packages() {
    local trouble=$1
    new_case "install-packages.sh with $trouble"
    copy_tree tools/install-packages.sh
    fake common/fail dpkg-query
    fake common/sudo
    fake install-packages/apt-get
    local packages=(cmake xvfb)
    [ "$trouble" = "a package not to be had" ] && packages+=(nosuch)
    run "$case_dir/tree/tools/install-packages.sh" --for deps.sh "${packages[@]}"
    expect "says the index failed" logged "some package indexes could not be downloaded"
    expect "installs the packages to be had" grep -q ' cmake xvfb$' "$case_dir/installs"
    expect "retries downloads" grep -q 'Acquire::Retries=' "$case_dir/installs"
    if [ "$trouble" = "a package not to be had" ]; then
        expect "fails" failed
        expect "names it and why in one line" logged "^deps.sh: cannot install nosuch: Unable to locate package nosuch$"
    else
        expect "succeeds" succeeded
    fi
}
case_install_packages_index_failing() { install_packages "an index failing to download"; }
case_install_packages_package_missing() { install_packages "a package not to be had"; }

# --- tools/install-packages.sh: another architecture, added for the install -
# Its index is caught mid-sync; where that costs a package, the architecture
# goes again with what of it was installed, and apt-get update is whole again.
install_packages_arch() {
    local outcome=$1
    new_case "install-packages.sh adding arm64, $outcome"
    copy_tree tools/install-packages.sh
    fake common/sudo
    fake install-packages-arch/dpkg
    fake install-packages-arch/dpkg-query
    fake install-packages-arch/apt-get
    local packages=(libjpeg-dev:arm64 cmake)
    [ "$outcome" = "one not to be had" ] && packages+=(libqt5gui5-missing:arm64)
    run "$case_dir/tree/tools/install-packages.sh" --for deb.sh "${packages[@]}"
    if [ "$outcome" = "all installed" ]; then
        expect "succeeds" succeeded
        expect "keeps the architecture" grep -qx arm64 "$case_dir/foreign"
    else
        expect "fails" failed
        expect "names the package and why" logged "^deb.sh: cannot install libqt5gui5-missing:arm64: qtbase5-dev:arm64 : Depends"
        expect "purges what it installed of arm64" grep -q ' libjpeg-dev:arm64$' "$case_dir/purged"
        expect "removes the architecture again" grep -qx 'arm64 removed' "$case_dir/architectures"
        expect "says so" logged "the arm64 architecture, added for this install, is removed again"
    fi
}
case_install_packages_arm64() { install_packages_arch "all installed"; }
case_install_packages_arm64_missing() { install_packages_arch "one not to be had"; }

# --- tools/windows/deps.sh: Wine's 32-bit half only where it can run ----------

windows_deps() {
    local runs_32bit=$1
    new_case "windows/deps.sh where 32-bit programs run: $runs_32bit"
    copy_tree tools/windows/deps.sh tools/install-packages.sh
    fake common/runs-32bit.sh runs-32bit.sh "$case_dir/tree/tools/windows"
    fake common/fail dpkg-query
    fake windows-deps/dpkg
    fake windows-deps/apt-get
    local missing=
    [ "$runs_32bit" = yes ] || missing=wine32:i386
    run env FAKE_RUNS_32BIT="$runs_32bit" FAKE_MISSING="$missing" "$case_dir/tree/tools/windows/deps.sh"
    expect "succeeds" succeeded
    expect "says an index failed" logged "some package indexes could not be downloaded"
    case "$runs_32bit" in
    yes)
        expect "adds the i386 architecture" grep -qx -- '--add-architecture i386' "$case_dir/architectures"
        expect "installs Wine's 32-bit half" grep -q ' wine32:i386' "$case_dir/installs"
        expect "and no emulator" not grep -q qemu "$case_dir/installs"
        ;;
    no)
        expect "adds no architecture" test ! -e "$case_dir/architectures"
        expect "asks for no i386 package" not grep -q i386 "$case_dir/installs"
        expect "installs the emulator for the guest" grep -q ' qemu-system-x86' "$case_dir/installs"
        expect "says why" logged "not installing Wine's 32-bit half: the kernel refuses"
        ;;
    *)
        expect "says which package and why" logged "cannot install wine32:i386: libcups2 : Depends: libavahi-client3"
        expect "installs the emulator for the guest" grep -q ' qemu-system-x86' "$case_dir/installs"
        expect "takes the i386 architecture away again" grep -qx -- '--remove-architecture i386' "$case_dir/architectures"
        ;;
    esac
}
case_windows_deps_32bit() { windows_deps yes; }
case_windows_deps_no_32bit() { windows_deps no; }
case_windows_deps_no_wine32() { windows_deps "yes, but wine32 not to be had"; }

# --- tools/windows/sources.sh: a Debian source package from the machine's archive
# The machine's sources are read by the real apt-get, from a configuration of
# the case's own; downloads are fakes.

sources() {
    local form=$1 download=$2
    new_case "sources.sh, machine's sources $form, downloadable: $download"
    copy_tree tools/windows/sources.sh tools/windows/archives.sh
    local etc=$case_dir/etc
    mkdir -p "$etc/sources.list.d" "$case_dir/lists/partial"
    case "$form" in
    one-line) printf 'deb [arch=amd64] http://mirror.example/debian bookworm main contrib\ndeb http://mirror.example/security bookworm-security main\n' >"$etc/sources.list" ;;
    deb822) printf 'Types: deb\nURIs: http://proxy.example:3142/debian\nSuites: bookworm bookworm-updates\nComponents: main\n' >"$etc/sources.list.d/debian.sources" ;;
    *) printf 'deb http://mirror.example/debian trixie main\n' >"$etc/sources.list" ;;
    esac
    printf 'Dir::Etc::SourceList "%s/sources.list";\nDir::Etc::SourceParts "%s/sources.list.d";\nDir::State::Lists "%s/lists";\n' \
        "$etc" "$etc" "$case_dir" >"$case_dir/apt.conf"
    fake sources/apt-get
    fake sources/apt-cache
    fake sources/dpkg
    fake sources/id
    run env APT_CONFIG="$case_dir/apt.conf" FAKE_DOWNLOAD="$download" XDG_CACHE_HOME="$case_dir/cache" \
        "$case_dir/tree/tools/windows/sources.sh" zlib 1.2.13
    local stamp=$case_dir/cache/orvex/src-zlib-1.2.13/.orvex-complete
    case "$form" in
    one-line)
        expect "asks the machine's mirror" grep -qx 'URIs: http://mirror.example/debian' "$case_dir/used"
        expect "and its security archive" grep -qx 'URIs: http://mirror.example/security' "$case_dir/used"
        ;;
    deb822) expect "asks the machine's proxy, for both suites" test "$(grep -c 'URIs: http://proxy.example:3142/debian' "$case_dir/used")" -eq 2 ;;
    *)
        expect "falls back to Debian's own archive" grep -qx 'URIs: http://deb.debian.org/debian' "$case_dir/used"
        expect "says so" logged "name no archive for bookworm"
        ;;
    esac
    case "$download" in
    newest) expect "takes the newest" grep -qx 'zlib_1.2.13.dfsg-1+deb12u1.dsc' "$stamp" ;;
    "newest missing")
        expect "takes the next one down" grep -qx 'zlib_1.2.13.dfsg-1.dsc' "$stamp"
        expect "says so" logged "zlib 1:1.2.13.dfsg-1+deb12u1 could not be downloaded"
        ;;
    *)
        expect "fails" failed
        expect "stamps nothing" none_like "$case_dir/cache/orvex/*/.orvex-complete"
        ;;
    esac
    expect "leaves no work folder" none_like "$case_dir/cache/orvex/work-*"
}
case_sources_one_line() { sources one-line newest; }
case_sources_one_line_newest_missing() { sources one-line "newest missing"; }
case_sources_one_line_nothing() { sources one-line nothing; }
case_sources_deb822() { sources deb822 newest; }
case_sources_none_for_bookworm() { sources "none for bookworm" newest; }

# --- tools/windows/test.sh: where the 32-bit programs are tested -----------
# The counts come from the run on the display: on this machine one test
# failed, in the guest none did.

windows_test() {
    local runs_32bit=$1
    new_case "test.sh on a fresh machine that runs 32-bit programs: $runs_32bit"
    copy_tree tools/windows/test.sh tools/windows/deps.sh tools/install-packages.sh
    local windows=$case_dir/tree/tools/windows
    fake common/runs-32bit.sh runs-32bit.sh "$windows"
    fake windows-test/build.sh build.sh "$windows"
    fake common/succeed check-libraries.sh "$windows"
    fake windows-test/check-manifest.py check-manifest.py "$windows"
    fake windows-test/guest.sh guest.sh "$windows"
    fake windows-test/dpkg-query
    fake common/succeed dpkg
    fake common/sudo
    # The cross compiler and Wine appear once apt-get has installed them.
    fake windows-test/i686-w64-mingw32-gcc "" "$case_dir/packages"
    fake windows-test/wine "" "$case_dir/packages"
    fake windows-test/apt-get
    fake windows-test/xvfb-run
    fake common/succeed wineserver
    run env FAKE_RUNS_32BIT="$runs_32bit" "$case_dir/tree/tools/windows/test.sh"
    expect "builds the 32-bit programs" grep -qx i686 "$case_dir/built"
    if [ "$runs_32bit" = yes ]; then
        expect "tests them here, not in the guest" test ! -e "$case_dir/guest"
        expect "ends with their counts" last_line_is "Windows tests, 32-bit programs, on this machine: 22 passed, 1 failed"
        expect "fails" failed
    else
        expect "says why" logged "NOTE: Wine cannot run 32-bit programs on this machine"
        expect "runs them on the display in the guest" grep -q "^run $case_dir/tree ORVEX_WINE_PREFIXES=.* ORVEX_WINE_ON_DISPLAY=1 xvfb-run" "$case_dir/guest"
        expect "ends with their counts" last_line_is "Windows tests, 32-bit programs, in an emulated i386 guest: 23 passed, 0 failed"
        expect "succeeds" succeeded
    fi
}
case_windows_test_32bit() { windows_test yes; }
case_windows_test_no_32bit() { windows_test no; }

# --- tools/windows/check-programs.sh: the DLLs the programs import -----------

windows_check_programs() {
    local imports=$1
    new_case "check-programs.sh with $imports"
    copy_tree tools/windows/check-programs.sh
    local build=$case_dir/build
    mkdir -p "$build/tools/camsim"
    touch "$build"/orvex.exe "$build"/orvex-crosshair.exe "$build"/orvex-plain.exe \
        "$build/tools/camsim/orvex-camsim.exe"
    fake check-programs/file
    fake check-programs/i686-w64-mingw32-objdump
    run env FAKE_IMPORTS="$imports" "$case_dir/tree/tools/windows/check-programs.sh" "$build" i686
    if [ "$imports" = "system DLLs" ]; then
        expect "passes" succeeded
    else
        expect "fails" failed
    fi
}
case_check_programs_system_dlls() { windows_check_programs "system DLLs"; }
case_check_programs_qt_dll() { windows_check_programs "a Qt DLL"; }
case_check_programs_objdump_failing() { windows_check_programs "objdump failing"; }

# --- tools/windows/check-libraries.sh: Debian's libraries in every program --

windows_check_libraries() {
    local carried=$1
    new_case "check-libraries.sh, programs carrying $carried"
    copy_tree tools/windows/check-libraries.sh tools/windows/libs.sh
    # Qt's source, as far as the check reads it: the bundled copies' versions.
    local qt_source=$case_dir/qt-source lib
    for lib in libjpeg:2.1.1 zlib:1.2.11; do
        mkdir -p "$qt_source/qtbase/src/3rdparty/${lib%:*}"
        printf '{\n    "Name": "x",\n    "Version": "%s",\n}\n' "${lib#*:}" \
            >"$qt_source/qtbase/src/3rdparty/${lib%:*}/qt_attribution.json"
    done
    (cd "$qt_source" && tar -czf qtbase-opensource-src_5.15.8+dfsg.orig.tar.gz qtbase)
    fake check-libraries/qt.sh qt.sh "$case_dir/tree/tools/windows"
    local build=$case_dir/build exe
    mkdir -p "$build/tools/camsim" "$build/tests/tst_view"
    local jpeg="libjpeg-turbo version 2.1.5 (build 20230203)"
    local zlib=" inflate 1.2.13 Copyright 1995-2022 Mark Adler "
    for exe in orvex.exe tools/camsim/orvex-camsim.exe tests/tst_view/tst_view.exe; do
        printf 'MZ\0%s\0%s\0' "$jpeg" "$zlib" >"$build/$exe"
    done
    case "$carried" in
    "Qt's bundled libjpeg") printf '\0libjpeg-turbo version 2.1.1 (build 20210813)\0' >>"$build/orvex.exe" ;;
    "no zlib") printf 'MZ\0%s\0' "$jpeg" >"$build/tests/tst_view/tst_view.exe" ;;
    esac
    run "$case_dir/tree/tools/windows/check-libraries.sh" "$build"
    case "$carried" in
    "Debian's") expect "passes, counting every program" logged "All 3 programs carry libjpeg-turbo 2.1.5 and zlib 1.2.13" ;;
    "Qt's bundled libjpeg") expect "fails, naming it" eval 'failed && logged "orvex.exe: Qt.s bundled libjpeg-turbo 2.1.1"' ;;
    *) expect "fails, naming it" eval 'failed && logged "tst_view.exe: no zlib 1.2.13"' ;;
    esac
}
case_check_libraries_debian() { windows_check_libraries "Debian's"; }
case_check_libraries_bundled_libjpeg() { windows_check_libraries "Qt's bundled libjpeg"; }
case_check_libraries_no_zlib() { windows_check_libraries "no zlib"; }

# --- tools/windows/rebuild-check.sh: the release files built again elsewhere -
# The case's tree is a repository of its own, its build.sh a fake.

rebuild_check() {
    local leak=$1
    new_case "rebuild-check.sh after a build that leaks $leak"
    copy_tree tools/windows/rebuild-check.sh
    local tree=$case_dir/tree
    fake rebuild-check/build.sh build.sh "$tree/tools/windows"
    printf '/build-win32/\n' >"$tree/.gitignore"
    run git -C "$tree" init -q
    run git -C "$tree" add -A
    run git -C "$tree" -c user.name=Orvex -c user.email=orvex@localhost commit -q -m tree
    run env FAKE_LEAK="$leak" "$tree/tools/windows/build.sh"
    run env FAKE_LEAK="$leak" "$tree/tools/windows/rebuild-check.sh"
    local rebuilt="$case_dir/orvex-rebuild.*/elsewhere/orvex/build-win32/SHA256SUMS"
    if [ "$leak" = nothing ]; then
        expect "succeeds" succeeded
        expect "says so" logged "^Rebuilt elsewhere byte for byte"
        expect "removes the rebuild" none_like "$case_dir/orvex-rebuild.*"
    else
        expect "fails" failed
        expect "names the file" logged "build-win32/orvex-1.0-win32-setup.exe .*differ"
        expect "keeps the rebuild to look into" not none_like "$rebuilt"
    fi
}
case_rebuild_check_same() { rebuild_check nothing; }
case_rebuild_check_time_zone() { rebuild_check "the time zone"; }

# --- fuzz/run.sh: Ctrl-C while fuzzing -------------------------------------

case_fuzz_run_interrupted() {
    new_case "fuzz/run.sh interrupted after a crash"
    copy_tree fuzz/run.sh fuzz/stream.dict
    mkdir -p "$case_dir/tree/fuzz/corpus" "$case_dir/build/fuzz"
    touch "$case_dir/build/CMakeCache.txt"
    fake common/succeed cmake
    fake fuzz/orvex-stream-fuzzer "" "$case_dir/build/fuzz"
    interrupt "$case_dir/fuzzing" env ORVEX_FUZZ_BUILD="$case_dir/build" ORVEX_FUZZ_WORK="$case_dir/work" \
        "$case_dir/tree/fuzz/run.sh" 60
    expect "fails" failed
    expect "keeps the crashing input" test -f "$case_dir/tree/fuzz/findings/crash-1234"
}

# --- fuzz/make-corpus.sh: missing tools, Ctrl-C, a whole run -----------------

# replaced_corpus <folder>: the new seeds there, the old one gone.
replaced_corpus() { test -f "$1/cjpeg-444" && test ! -e "$1/old-seed"; }

make_corpus() {
    local run_kind=$1
    new_case "fuzz/make-corpus.sh $run_kind"
    copy_tree fuzz/make-corpus.sh
    local corpus=$case_dir/tree/fuzz/corpus tool
    mkdir -p "$corpus" "$case_dir/build/fuzz"
    echo old >"$corpus/old-seed"
    fake common/succeed cmake
    fake fuzz/orvex-fuzz-seeds "" "$case_dir/build/fuzz"
    if [ "$run_kind" != "without the libjpeg tools" ]; then
        fake fuzz/cjpeg
        for tool in djpeg jpegtran wrjpgcom; do fake fuzz/jpeg-tool $tool; done
    fi
    local command=("$case_dir/tree/fuzz/make-corpus.sh" "$case_dir/build")
    case "$run_kind" in
    "interrupted") interrupt "$case_dir/encoding" env FAKE_HANG=1 "${command[@]}" ;;
    *) run "${command[@]}" ;;
    esac
    if [ "$run_kind" = whole ]; then
        expect "succeeds" succeeded
        expect "replaces the corpus" replaced_corpus "$corpus"
    else
        expect "fails" failed
        expect "keeps the old corpus" test -f "$corpus/old-seed"
    fi
    if [ "$run_kind" = interrupted ]; then
        expect "goes no further" test "$(wc -l <"$case_dir/log")" -eq "$lines_at_interrupt"
    fi
}
case_make_corpus_without_tools() { make_corpus "without the libjpeg tools"; }
case_make_corpus_interrupted() { make_corpus interrupted; }
case_make_corpus_whole() { make_corpus whole; }

# --- running them -------------------------------------------------------------

mapfile -t names < <(declare -F | sed -n 's/^declare -f case_//p')
case "${1:-}" in
--list)
    printf '%s\n' "${names[@]}"
    exit 0
    ;;
-*)
    echo "usage: tools/check-scripts.sh [--list | NAME...]" >&2
    exit 2
    ;;
esac
selected=("${names[@]}")
if [ $# -gt 0 ]; then
    selected=("$@")
    for name in "${selected[@]}"; do
        if ! declare -F "case_$name" >/dev/null; then
            echo "check-scripts.sh: no case named '$name' (tools/check-scripts.sh --list names them)" >&2
            exit 2
        fi
    done
fi

sandbox=$(mktemp -d "${TMPDIR:-/tmp}/orvex-check-scripts.XXXXXX")
trap 'rm -rf "$sandbox"' EXIT

# The only real programs the scripts under test find on their PATH: a real
# apt-get, compiler or Wine on this machine must never run.
sysbin=$sandbox/sysbin
mkdir -p "$sysbin"
for tool in bash sh env cat rm mkdir mktemp mv cp ls basename dirname head tail sed grep \
    tr touch sleep wc sha256sum cut id timeout chmod true false awk sort printf tar gzip find git cmp; do
    ln -s "$(type -P "$tool")" "$sysbin/$tool"
done

failures=0
checks=0
for name in "${selected[@]}"; do
    "case_$name"
done
echo "$((checks - failures)) of $checks script checks passed"
[ $failures -eq 0 ]
