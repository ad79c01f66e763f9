#!/usr/bin/env bash
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
    tr touch sleep wc sha256sum cut id timeout chmod true false; do
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

# --- tools/windows/qt.sh: fetching Qt's source package -----------------------
for apt_failure in none update source; do
    new_case "qt.sh source, apt-get failing at: $apt_failure"
    copy_tree tools/windows/qt.sh
    # The download of the .dsc succeeds before that of the tarball fails.
    fake apt-get "case \" \$* \" in
*' update '*) [ $apt_failure != update ] ;;
*' source '*) : >qtbase-opensource-src_5.15.8+dfsg-11.dsc && [ $apt_failure != source ] ;;
esac"
    run env XDG_CACHE_HOME="$case_dir/cache" "$case_dir/tree/tools/windows/qt.sh" source
    cache=$case_dir/cache/orvex
    if [ $apt_failure = none ]; then
        expect "succeeds" succeeded
        expect "stamps the source complete" test -f "$cache/qtbase-src-5.15.8/.orvex-complete"
    else
        expect "fails" failed
        expect "stamps nothing" none_like "$cache/*/.orvex-complete"
    fi
    expect "leaves no work folder" none_like "$cache/work-*"
done

# --- tools/windows/test.sh: which Windows build to test ----------------------
for runs_32bit in yes no; do
    new_case "test.sh on a fresh machine that runs 32-bit programs: $runs_32bit"
    copy_tree tools/windows/test.sh tools/windows/deps.sh
    fake build.sh 'echo "$@" >"$FAKE_STATE/built"; exit 3'
    mv "$fakes/build.sh" "$case_dir/tree/tools/windows/build.sh"
    # Nothing is installed until apt-get installs it; then the cross compiler
    # and Wine appear.
    fake dpkg-query '[ -e "$FAKE_STATE/installed" ] && printf "install ok installed"'
    fake dpkg 'exit 0'
    fake sudo 'exec "$@"'
    fake i686-w64-mingw32-gcc 'while [ $# -gt 0 ]; do [ "$1" = -o ] && : >"$2"; shift; done'
    fake wine "[ $runs_32bit = yes ]"
    mkdir "$case_dir/packages"
    mv "$fakes/i686-w64-mingw32-gcc" "$fakes/wine" "$case_dir/packages/"
    fake apt-get 'case " $* " in *" install "*)
    touch "$FAKE_STATE/installed"
    cp "$FAKE_STATE"/packages/* "$FAKE_STATE/bin/" ;;
esac'
    run "$case_dir/tree/tools/windows/test.sh"
    if [ $runs_32bit = yes ]; then
        expect "builds and tests the 32-bit programs" grep -qx i686 "$case_dir/built"
        expect "says nothing of 64-bit" eval '! logged NOTE'
    else
        expect "builds and tests the 64-bit programs" grep -qx x86_64 "$case_dir/built"
        expect "says why" logged "NOTE: the 32-bit Windows programs cannot run"
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
