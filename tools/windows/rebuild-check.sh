#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Checks that the Windows release files rebuild byte for byte, as anyone
# rebuilding them from the same commit would: the commit is cloned into
# another folder and built there again by tools/windows/build.sh, later, in
# another time zone, with another umask, without the test programs; its zip,
# setup program and SHA256SUMS must equal build-win32's, and build-win32's
# files must match their SHA256SUMS. Run it after tools/windows/build.sh, on
# a tree whose changes are committed. The clone is built in a new folder
# under TMPDIR, removed afterwards unless the files differ.
#
# Usage: tools/windows/rebuild-check.sh
set -euo pipefail
cd "$(dirname "$0")/../.."
build="build-win32"

fail() {
    echo "rebuild-check.sh: $*" >&2
    exit 1
}

[ -f "$build/SHA256SUMS" ] || fail "no $build/SHA256SUMS: run tools/windows/build.sh first"
[ -z "$(git status --porcelain --untracked-files=no)" ] ||
    fail "the tree has uncommitted changes, which a clone of its commit lacks: commit them and build again"
# The release files named in SHA256SUMS, and nothing but them.
mapfile -t files < <(sed 's/^[0-9a-f]\{64\}  //' "$build/SHA256SUMS")
[ ${#files[@]} -eq 2 ] || fail "$build/SHA256SUMS names ${#files[@]} files, not the zip and the setup program"
(cd "$build" && sha256sum --quiet -c SHA256SUMS) || fail "$build's files do not match its SHA256SUMS"

scratch=$(mktemp -d "${TMPDIR:-/tmp}/orvex-rebuild.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
again=$scratch/elsewhere/orvex
commit=$(git rev-parse HEAD)
git clone -q --no-checkout . "$again"
git -C "$again" checkout -q "$commit"
echo "Building $commit again in $again"
# A time zone twelve hours off UTC (POSIX notation: no tzdata needed) and a
# umask that keeps files from others: neither may reach the files. Nor may
# the test programs, which the release files do not hold: they are left out
# here, which halves the build.
(cd "$again" && umask 077 && TZ=XST-12 ORVEX_WINDOWS_NO_DEPS=1 ORVEX_WINDOWS_TESTS=OFF tools/windows/build.sh i686)

status=0
for file in "${files[@]}" SHA256SUMS; do
    if cmp "$build/$file" "$again/$build/$file"; then
        echo "same bytes: $file"
    else
        status=1
    fi
done
if [ $status -ne 0 ]; then
    trap - EXIT
    fail "the rebuild differs (above); it stays in $again"
fi
echo "Rebuilt elsewhere byte for byte: $(tr '\n' ' ' <"$build/SHA256SUMS")"
