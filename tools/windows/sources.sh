#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Downloads a Debian 12 source package (its .dsc and tarballs) into the cache
# once, and prints the folder that holds it.
# Usage: tools/windows/sources.sh PACKAGE UPSTREAM_VERSION
#   e.g. sources.sh libjpeg-turbo 2.1.5
# Only the last line of output is the answer; progress goes to stderr.
#
# apt downloads it through a configuration of our own, so the machine's
# package lists stay as they were; but from the archive the machine's own
# sources name for bookworm, one-line and deb822 alike, as apt reads them: a
# mirror or a proxy the machine must use is used here too (and apt.conf's
# proxy settings apply as ever). The entry is made beside its final place and
# renamed into it, its stamp written last: one without it is never used.
set -euo pipefail
# Also inside $(...): a download that failed half-way must never be stamped.
shopt -s inherit_errexit

package=${1:?usage: sources.sh PACKAGE UPSTREAM_VERSION}
version=${2:?usage: sources.sh PACKAGE UPSTREAM_VERSION}
suite=bookworm
cache=${XDG_CACHE_HOME:-$HOME/.cache}/orvex
dir=$cache/src-$package-$version
if [ -f "$dir/.orvex-complete" ]; then
    echo "$dir"
    exit 0
fi
mkdir -p "$cache"

# shellcheck source=tools/windows/archives.sh
. "$(dirname "$0")/archives.sh"
# One deb-src stanza for each archive and suite, for the newest source.
stanza() {
    printf 'Types: deb-src\nURIs: %s\nSuites: %s\nComponents: main\n' "$1" "$2"
    printf 'Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg\n\n'
}
sources=
while read -r site release; do
    sources+=$(stanza "$site" "$release")$'\n\n'
done < <(bookworm_archives)
if ! grep -qx "Suites: $suite" <<<"$sources"; then
    echo "sources.sh: the machine's apt sources name no archive for $suite main; using Debian's own" >&2
    sources=$(stanza http://deb.debian.org/debian "$suite")$'\n\n'$(stanza http://deb.debian.org/debian-security "$suite-security")
fi

work=$(mktemp -d "$cache/work-src.XXXXXX")
trap 'rm -rf "$work"' EXIT
apt_dir=$work/apt
mkdir -p "$apt_dir/sources.list.d" "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$work/src"
: >"$apt_dir/sources.list"
printf '%s\n' "$sources" >"$apt_dir/sources.list.d/debian-src.sources"
apt_options=(
    -o "Dir::Etc::SourceList=$apt_dir/sources.list"
    -o "Dir::Etc::SourceParts=$apt_dir/sources.list.d"
    -o "Dir::State::Lists=$apt_dir/lists"
    -o "Dir::Cache=$apt_dir/cache"
    -o Acquire::Retries=5
    # Our folders are root's when we are: no need for apt's sandbox user.
    -o APT::Sandbox::User="$(id -un)"
)
echo "Downloading Debian's $package source" >&2
# An index that failed to download is for the download itself to judge.
apt-get "${apt_options[@]}" -qq update >&2 || echo "sources.sh: apt-get update failed; trying all the same" >&2
# Newest first, by Debian's version order. A version the index names may
# still be missing from the pool (a security archive that carries no sources
# for us): the next one down is taken then, and said so.
versions=()
for v in $(apt-cache "${apt_options[@]}" madison "$package" | awk -F' *[|] *' '$3 ~ / Sources$/ { print $2 }'); do
    i=0
    while [ $i -lt ${#versions[@]} ] && dpkg --compare-versions "${versions[$i]}" gt "$v"; do
        i=$((i + 1))
    done
    [ $i -lt ${#versions[@]} ] && [ "${versions[$i]}" = "$v" ] && continue
    versions=("${versions[@]:0:$i}" "$v" "${versions[@]:$i}")
done
[ ${#versions[@]} -gt 0 ] || {
    echo "sources.sh: no archive offers the source of $package" >&2
    exit 1
}
got=
for v in "${versions[@]}"; do
    if (cd "$work/src" && apt-get "${apt_options[@]}" -qq source --download-only "$package=$v" >&2); then
        got=$v
        break
    fi
    rm -f "$work/src"/*
    echo "sources.sh: $package $v could not be downloaded; trying an older one" >&2
done
[ -n "$got" ] || {
    echo "sources.sh: no version of $package could be downloaded" >&2
    exit 1
}
dsc=$(basename "$(ls "$work/src/${package}"_*.dsc)")
# The Debian version with its epoch dropped, as in the file's name.
case "$dsc" in
"${package}_$version"[-+.~]*) ;;
*)
    echo "sources.sh: expected $package $version, got $dsc" >&2
    exit 1
    ;;
esac
echo "$dsc" >"$work/src/.orvex-complete"
rm -rf "$dir"
mv "$work/src" "$dir"
echo "$dir"
