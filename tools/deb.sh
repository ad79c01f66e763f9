#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the Debian packages orvex and orvex-camsim from debian/ and leaves
# them in build-deb/ARCH/, checked with lintian, desktop-file-validate and
# appstreamcli. Installs what the build needs first (through sudo when not
# root). For arm64 on an amd64 machine it cross-builds with Debian's
# multiarch cross toolchain and the :arm64 build dependencies, without the
# test suite; a native build runs the suite (unless DEB_BUILD_OPTIONS has
# nocheck).
#
# Usage: tools/deb.sh [amd64|arm64]   (default: amd64)
set -euo pipefail
cd "$(dirname "$0")/.."

arch=${1:-amd64}
case "$arch" in
amd64 | arm64) ;;
*)
    echo "usage: tools/deb.sh [amd64|arm64]" >&2
    exit 2
    ;;
esac
native=$(dpkg --print-architecture)
out=$PWD/build-deb/$arch
install() { tools/install-packages.sh --for deb.sh "$@"; }

# The build dependencies debian/control names for these profiles, as apt's
# build-dep would pick them: the tools for this machine, the libraries to
# link for ARCH (those of them that are not Multi-Arch: foreign).
build_depends() {
    local profiles=$1 name
    for name in $(perl -MDpkg::Control::Info -MDpkg::Deps -e '
        my ($arch, $profiles) = @ARGV;
        my $deps = deps_parse(Dpkg::Control::Info->new("debian/control")->get_source->{"Build-Depends"},
            build_dep => 1, reduce_restrictions => 1, host_arch => $arch,
            build_profiles => [split /,/, $profiles]);
        # Of alternatives, the first, as the build daemons take it.
        print((($_->isa("Dpkg::Deps::OR") ? ($_->get_deps)[0] : $_)->{package}), "\n")
            for $deps->get_deps;
    ' "$arch" "$profiles"); do
        # debhelper-compat is debhelper's name for its compatibility levels.
        [ "$name" = debhelper-compat ] && name=debhelper
        # Read whole first: grep -q stopping early would fail the pipe.
        if [ "$arch" != "$native" ] &&
            ! grep -qE '^(Multi-Arch: foreign|Architecture: all)$' <<<"$(apt-cache show --no-all-versions "$name" 2>/dev/null)"; then
            name=$name:$arch
        fi
        echo "$name"
    done
}

profiles=
options=(-us -uc -b)
export DEB_BUILD_OPTIONS=${DEB_BUILD_OPTIONS:-}
tools=(dpkg-dev build-essential lintian desktop-file-utils appstream)
if [ "$arch" = "$native" ]; then
    case " $DEB_BUILD_OPTIONS " in *" nocheck "*) profiles=nocheck ;; esac
    install "${tools[@]}"
else
    profiles=cross,nocheck
    DEB_BUILD_OPTIONS="nocheck $DEB_BUILD_OPTIONS"
    options+=(-a "$arch")
    install "${tools[@]}" "crossbuild-essential-$arch"
fi
[ -z "$profiles" ] || options+=(-P"$profiles")
mapfile -t depends < <(build_depends "$profiles")
install "${depends[@]}"

# dpkg-buildpackage writes the packages beside the source folder and leaves
# its products inside it: it builds in a copy of the tree, within out.
version=$(dpkg-parsechangelog -S Version)
source=$out/src/orvex-${version%-*}
rm -rf "$out"
mkdir -p "$source"
git ls-files -z --cached --others --exclude-standard |
    tar --null --files-from=- --ignore-failed-read -cf - | tar -xf - -C "$source"

start=$SECONDS
echo "deb.sh: building orvex $version for $arch${profiles:+ (profiles: $profiles)}"
(cd "$source" && dpkg-buildpackage "${options[@]}" -J"$(nproc)") >"$out/build.log" 2>&1 || {
    tail -n 40 "$out/build.log" >&2
    echo "deb.sh: dpkg-buildpackage failed; the whole log is $out/build.log" >&2
    exit 1
}
mv "$out"/src/*.deb "$out/"
rm -rf "$out/src"
echo "deb.sh: built in $((SECONDS - start)) s"

# What the packages hold, checked as Debian's tools check it.
lintian --fail-on error,warning "$out"/*.deb
contents=$out/contents
mkdir -p "$contents"
for deb in "$out"/*.deb; do dpkg-deb -x "$deb" "$contents"; done
desktop-file-validate "$contents"/usr/share/applications/*.desktop
appstreamcli validate --no-net "$contents"/usr/share/metainfo/*.metainfo.xml
rm -rf "$contents"
echo "deb.sh: lintian-clean packages in $out:"
(cd "$out" && ls -1 ./*.deb)
