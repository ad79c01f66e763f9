#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Checks that the Windows and fuzzing scripts fail loudly and clean up after
# themselves. Each script runs in a scratch copy of its part of the tree, with
# fakes standing in for apt, the cross compilers, Wine, cmake and the fuzzer,
# on a PATH that holds nothing else but basic tools: nothing is installed,
# built or fetched. Takes seconds.
#
# Usage: tools/check-scripts.sh
#
# A fake's code is single-quoted: it expands when the fake runs.
# shellcheck disable=SC2016
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
sandbox=$(mktemp -d "${TMPDIR:-/tmp}/orvex-check-scripts.XXXXXX")
trap 'rm -rf "$sandbox"' EXIT

# The only real programs the scripts under test find on their PATH: a real
# apt-get, compiler or Wine on this machine must never run.
sysbin=$sandbox/sysbin
mkdir -p "$sysbin"
for tool in bash sh env cat rm mkdir mktemp mv cp ls basename dirname head tail sed grep \
    tr touch sleep wc sha256sum cut id timeout chmod true false awk sort printf tar gzip find; do
    ln -s "$(type -P "$tool")" "$sysbin/$tool"
done

failures=0
checks=0
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

# fake <name> <shell code>: a stand-in program on the case's PATH.
fake() {
    printf '#!/bin/sh\n%s\n' "$2" >"$fakes/$1"
    chmod +x "$fakes/$1"
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
succeeded() { [ "$status" -eq 0 ]; }
none_like() { ! compgen -G "$1" >/dev/null; }
logged() { grep -q -- "$1" "$case_dir/log"; }

# --- tools/install-packages.sh: a mirror mid-sync, a package not to be had --
for trouble in "an index failing to download" "a package not to be had"; do
    new_case "install-packages.sh with $trouble"
    copy_tree tools/install-packages.sh
    fake dpkg-query 'exit 1'
    fake sudo 'exec "$@"'
    # Logs each install; "nosuch" is in no index, so an install naming it fails.
    fake apt-get 'case " $* " in
*" update "*)
    echo "E: Failed to fetch http://deb.example/binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress?"
    echo "E: Some index files failed to download. They have been ignored, or old ones used instead."
    exit 100 ;;
*" nosuch "*) echo "E: Unable to locate package nosuch"; exit 100 ;;
*" -s "*) ;;
*" install "*) echo "$*" >>"$FAKE_STATE/installs" ;;
esac'
    packages=(cmake xvfb)
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
done

# --- tools/windows/deps.sh: Wine's 32-bit half only where it can run ----------
for runs_32bit in yes no "yes, but wine32 not to be had"; do
    new_case "windows/deps.sh where 32-bit programs run: $runs_32bit"
    copy_tree tools/windows/deps.sh tools/install-packages.sh
    fake runs-32bit.sh "case '$runs_32bit' in yes*) ;; *) echo 'the kernel refuses 32-bit programs'; exit 1 ;; esac"
    mv "$fakes/runs-32bit.sh" "$case_dir/tree/tools/windows/"
    fake dpkg-query 'exit 1'
    fake dpkg 'case "$1" in
--print-foreign-architectures) ;;
--add-architecture | --remove-architecture) echo "$1 $2" >>"$FAKE_STATE/architectures" ;;
*) exit 99 ;;
esac'
    missing=
    [ "$runs_32bit" = yes ] || missing=wine32:i386
    # The security archive's i386 index is caught mid-sync every time.
    fake apt-get "case \" \$* \" in
*' update '*) echo 'E: Failed to fetch http://deb.example/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress?'; exit 100 ;;
*' $missing '*) echo ' libcups2 : Depends: libavahi-client3 (>= 0.6.16) but it is not going to be installed'; exit 100 ;;
*' -s '*) ;;
*' install '*) echo \"\$*\" >>\"\$FAKE_STATE/installs\" ;;
esac"
    run "$case_dir/tree/tools/windows/deps.sh"
    expect "succeeds" succeeded
    expect "says an index failed" logged "some package indexes could not be downloaded"
    case "$runs_32bit" in
    yes)
        expect "adds the i386 architecture" grep -qx -- '--add-architecture i386' "$case_dir/architectures"
        expect "installs Wine's 32-bit half" grep -q ' wine32:i386' "$case_dir/installs"
        expect "and no emulator" eval '! grep -q qemu "$case_dir/installs"' ;;
    no)
        expect "adds no architecture" test ! -e "$case_dir/architectures"
        expect "asks for no i386 package" eval '! grep -q i386 "$case_dir/installs"'
        expect "installs the emulator for the guest" grep -q ' qemu-system-x86' "$case_dir/installs"
        expect "says why" logged "not installing Wine's 32-bit half: the kernel refuses" ;;
    *)
        expect "says which package and why" logged "cannot install wine32:i386: libcups2 : Depends: libavahi-client3"
        expect "installs the emulator for the guest" grep -q ' qemu-system-x86' "$case_dir/installs"
        expect "takes the i386 architecture away again" grep -qx -- '--remove-architecture i386' "$case_dir/architectures" ;;
    esac
done

# --- tools/windows/sources.sh: a Debian source package from the machine's archive
# The machine's sources are read by the real apt-get, from a configuration of
# the case's own; downloads are fakes.
for form in one-line deb822 "none for bookworm"; do
    for download in newest "newest missing" nothing; do
        [ "$form" != one-line ] && [ "$download" != newest ] && continue
        new_case "sources.sh, machine's sources $form, downloadable: $download"
        copy_tree tools/windows/sources.sh tools/windows/archives.sh
        etc=$case_dir/etc
        mkdir -p "$etc/sources.list.d" "$case_dir/lists/partial"
        case "$form" in
        one-line) printf 'deb [arch=amd64] http://mirror.example/debian bookworm main contrib\ndeb http://mirror.example/security bookworm-security main\n' >"$etc/sources.list" ;;
        deb822) printf 'Types: deb\nURIs: http://proxy.example:3142/debian\nSuites: bookworm bookworm-updates\nComponents: main\n' >"$etc/sources.list.d/debian.sources" ;;
        *) printf 'deb http://mirror.example/debian trixie main\n' >"$etc/sources.list" ;;
        esac
        printf 'Dir::Etc::SourceList "%s/sources.list";\nDir::Etc::SourceParts "%s/sources.list.d";\nDir::State::Lists "%s/lists";\n' \
            "$etc" "$etc" "$case_dir" >"$case_dir/apt.conf"
        fake apt-get 'case " $* " in
*" indextargets "*) exec /usr/bin/apt-get "$@" ;;
*" update "*) for a; do case "$a" in Dir::Etc::SourceParts=*) cat "${a#*=}"/* >"$FAKE_STATE/used" ;; esac; done ;;
*" source "*)
    case "$FAKE_DOWNLOAD $*" in
    nothing*|"newest missing"*1.2.13.dfsg-1+deb12u1*) echo "E: 404 Not Found"; exit 100 ;;
    esac
    v=${*##*=}; v=${v#*:}
    : >"zlib_$v.dsc" ;;
esac'
        fake apt-cache 'printf "      zlib | 1:1.2.13.dfsg-1 | http://x bookworm/main Sources\n      zlib | 1:1.2.13.dfsg-1+deb12u1 | http://x bookworm-security/main Sources\n"'
        fake dpkg '[ "$1" = --compare-versions ] && exec /usr/bin/dpkg "$@"; exit 99'
        fake id 'echo root'
        run env APT_CONFIG="$case_dir/apt.conf" FAKE_DOWNLOAD="$download" XDG_CACHE_HOME="$case_dir/cache" \
            "$case_dir/tree/tools/windows/sources.sh" zlib 1.2.13
        stamp=$case_dir/cache/orvex/src-zlib-1.2.13/.orvex-complete
        case "$form" in
        one-line)
            expect "asks the machine's mirror" grep -qx 'URIs: http://mirror.example/debian' "$case_dir/used"
            expect "and its security archive" grep -qx 'URIs: http://mirror.example/security' "$case_dir/used" ;;
        deb822) expect "asks the machine's proxy, for both suites" test "$(grep -c 'URIs: http://proxy.example:3142/debian' "$case_dir/used")" -eq 2 ;;
        *)
            expect "falls back to Debian's own archive" grep -qx 'URIs: http://deb.debian.org/debian' "$case_dir/used"
            expect "says so" logged "name no archive for bookworm" ;;
        esac
        case "$download" in
        newest) expect "takes the newest" grep -qx 'zlib_1.2.13.dfsg-1+deb12u1.dsc' "$stamp" ;;
        "newest missing")
            expect "takes the next one down" grep -qx 'zlib_1.2.13.dfsg-1.dsc' "$stamp"
            expect "says so" logged "zlib 1:1.2.13.dfsg-1+deb12u1 could not be downloaded" ;;
        *)
            expect "fails" failed
            expect "stamps nothing" none_like "$case_dir/cache/orvex/*/.orvex-complete" ;;
        esac
        expect "leaves no work folder" none_like "$case_dir/cache/orvex/work-*"
    done
done

# --- tools/windows/test.sh: where the 32-bit programs are tested -----------
# The counts come from the run on the display: on this machine one test
# failed, in the guest none did.
for runs_32bit in yes no; do
    new_case "test.sh on a fresh machine that runs 32-bit programs: $runs_32bit"
    copy_tree tools/windows/test.sh tools/windows/deps.sh tools/install-packages.sh
    fake runs-32bit.sh "[ $runs_32bit = yes ]"
    fake build.sh 'echo "$@" >"$FAKE_STATE/built"'
    fake check-libraries.sh 'exit 0'
    # Any zip passes; the test program without a manifest does not.
    fake check-manifest.py 'case "$1" in *.exe) exit 1 ;; esac'
    fake guest.sh 'echo "$@" >"$FAKE_STATE/guest"; echo "23 0" >build-win32/test-counts'
    mv "$fakes"/{runs-32bit.sh,build.sh,check-libraries.sh,check-manifest.py,guest.sh} "$case_dir/tree/tools/windows/"
    # Nothing is installed until apt-get installs it; then the cross compiler
    # and Wine appear.
    fake dpkg-query '[ -e "$FAKE_STATE/installed" ] && printf "install ok installed"'
    fake dpkg 'exit 0'
    fake sudo 'exec "$@"'
    fake i686-w64-mingw32-gcc 'while [ $# -gt 0 ]; do [ "$1" = -o ] && : >"$2"; shift; done'
    # As Wine without its 32-bit half does: nothing runs, and all is well.
    fake wine "[ $runs_32bit = yes ] && exit 42; exit 0"
    mkdir "$case_dir/packages"
    mv "$fakes/i686-w64-mingw32-gcc" "$fakes/wine" "$case_dir/packages/"
    fake apt-get 'case " $* " in *" install "*)
    touch "$FAKE_STATE/installed"
    cp "$FAKE_STATE"/packages/* "$FAKE_STATE/bin/" ;;
esac'
    fake xvfb-run 'echo "22 1" >build-win32/test-counts'
    fake wineserver 'exit 0'
    run "$case_dir/tree/tools/windows/test.sh"
    expect "builds the 32-bit programs" grep -qx i686 "$case_dir/built"
    if [ $runs_32bit = yes ]; then
        expect "tests them here, not in the guest" test ! -e "$case_dir/guest"
        expect "ends with their counts" eval 'tail -n1 "$case_dir/log" | grep -qx "Windows tests, 32-bit programs, on this machine: 22 passed, 1 failed"'
        expect "fails" failed
    else
        expect "says why" logged "NOTE: Wine cannot run 32-bit programs on this machine"
        expect "runs them on the display in the guest" grep -q "^run $case_dir/tree ORVEX_WINE_PREFIXES=.* ORVEX_WINE_ON_DISPLAY=1 xvfb-run" "$case_dir/guest"
        expect "ends with their counts" eval 'tail -n1 "$case_dir/log" | grep -qx "Windows tests, 32-bit programs, in an emulated i386 guest: 23 passed, 0 failed"'
        expect "succeeds" succeeded
    fi
done

# --- tools/windows/check-programs.sh: the DLLs the programs import -----------
for imports in "system DLLs" "a Qt DLL" "objdump failing"; do
    new_case "check-programs.sh with $imports"
    copy_tree tools/windows/check-programs.sh
    build=$case_dir/build
    mkdir -p "$build/tools/camsim"
    touch "$build"/orvex.exe "$build"/orvex-crosshair.exe "$build"/orvex-plain.exe \
        "$build/tools/camsim/orvex-camsim.exe"
    fake file 'case "$2" in
*camsim*) echo "PE32 executable (console) Intel 80386, for MS Windows" ;;
*) echo "PE32 executable (GUI) Intel 80386, for MS Windows" ;;
esac'
    case "$imports" in
    "system DLLs") fake i686-w64-mingw32-objdump 'printf "\tDLL Name: KERNEL32.dll\n\tDLL Name: ws2_32.dll\n"' ;;
    "a Qt DLL") fake i686-w64-mingw32-objdump 'printf "\tDLL Name: KERNEL32.dll\n\tDLL Name: Qt5Core.dll\n"' ;;
    *) fake i686-w64-mingw32-objdump 'echo "objdump: cannot read $2" >&2; exit 1' ;;
    esac
    run "$case_dir/tree/tools/windows/check-programs.sh" "$build" i686
    if [ "$imports" = "system DLLs" ]; then
        expect "passes" succeeded
    else
        expect "fails" failed
    fi
done

# --- tools/windows/check-libraries.sh: Debian's libraries in every program --
for carried in "Debian's" "Qt's bundled libjpeg" "no zlib"; do
    new_case "check-libraries.sh, programs carrying $carried"
    copy_tree tools/windows/check-libraries.sh tools/windows/libs.sh
    # Qt's source, as far as the check reads it: the bundled copies' versions.
    qt_source=$case_dir/qt-source
    for lib in libjpeg:2.1.1 zlib:1.2.11; do
        mkdir -p "$qt_source/qtbase/src/3rdparty/${lib%:*}"
        printf '{\n    "Name": "x",\n    "Version": "%s",\n}\n' "${lib#*:}" \
            >"$qt_source/qtbase/src/3rdparty/${lib%:*}/qt_attribution.json"
    done
    (cd "$qt_source" && tar -czf qtbase-opensource-src_5.15.8+dfsg.orig.tar.gz qtbase)
    fake qt.sh "echo '$qt_source'"
    mv "$fakes/qt.sh" "$case_dir/tree/tools/windows/"
    build=$case_dir/build
    mkdir -p "$build/tools/camsim" "$build/tests/tst_view"
    jpeg="libjpeg-turbo version 2.1.5 (build 20230203)"
    zlib=" inflate 1.2.13 Copyright 1995-2022 Mark Adler "
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
done

# --- fuzz/run.sh: Ctrl-C while fuzzing -------------------------------------
new_case "fuzz/run.sh interrupted after a crash"
copy_tree fuzz/run.sh fuzz/stream.dict
mkdir -p "$case_dir/tree/fuzz/corpus" "$case_dir/build/fuzz"
touch "$case_dir/build/CMakeCache.txt"
fake cmake 'exit 0'
# Like libFuzzer with -fork: finds a crash, goes on, and stops on SIGINT.
fake orvex-stream-fuzzer 'for a; do case "$a" in -artifact_prefix=*) : >"${a#*=}crash-1234" ;; esac; done
trap "exit 72" INT
touch "$FAKE_STATE/fuzzing"
while :; do sleep 0.1; done'
mv "$fakes/orvex-stream-fuzzer" "$case_dir/build/fuzz/"
interrupt "$case_dir/fuzzing" env ORVEX_FUZZ_BUILD="$case_dir/build" ORVEX_FUZZ_WORK="$case_dir/work" \
    "$case_dir/tree/fuzz/run.sh" 60
expect "fails" failed
expect "keeps the crashing input" test -f "$case_dir/tree/fuzz/findings/crash-1234"

# --- fuzz/make-corpus.sh: missing tools, Ctrl-C, a whole run -----------------
for run_kind in "without the libjpeg tools" "interrupted" "whole"; do
    new_case "fuzz/make-corpus.sh $run_kind"
    copy_tree fuzz/make-corpus.sh
    corpus=$case_dir/tree/fuzz/corpus
    mkdir -p "$corpus" "$case_dir/build/fuzz"
    echo old >"$corpus/old-seed"
    fake cmake 'exit 0'
    fake orvex-fuzz-seeds 'printf "\0\0J_S=\377\330\377\340JFIF\377\331J_E;" >"$1/qvga-q30"'
    mv "$fakes/orvex-fuzz-seeds" "$case_dir/build/fuzz/"
    if [ "$run_kind" != "without the libjpeg tools" ]; then
        # The first encoding hangs when interrupted, as a slow cjpeg would.
        fake cjpeg 'if [ -n "${FAKE_HANG:-}" ] && [ ! -e "$FAKE_STATE/encoding" ]; then
    touch "$FAKE_STATE/encoding"
    while :; do sleep 0.1; done
fi
printf "\377\330\377\331"'
        for tool in djpeg jpegtran wrjpgcom; do fake $tool 'printf "\377\330\377\331"'; done
    fi
    command=("$case_dir/tree/fuzz/make-corpus.sh" "$case_dir/build")
    case "$run_kind" in
    "interrupted") interrupt "$case_dir/encoding" env FAKE_HANG=1 "${command[@]}" ;;
    *) run "${command[@]}" ;;
    esac
    if [ "$run_kind" = whole ]; then
        expect "succeeds" succeeded
        expect "replaces the corpus" eval 'test -f "$corpus/cjpeg-444" && test ! -e "$corpus/old-seed"'
    else
        expect "fails" failed
        expect "keeps the old corpus" test -f "$corpus/old-seed"
    fi
    if [ "$run_kind" = interrupted ]; then
        expect "goes no further" test "$(wc -l <"$case_dir/log")" -eq "$lines_at_interrupt"
    fi
done

echo "$((checks - failures)) of $checks script checks passed"
[ $failures -eq 0 ]
