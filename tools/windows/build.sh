#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds Orvex for Windows on Debian: a static Qt from Debian's source
# package (cached), then the three programs, orvex-camsim.exe and the test
# programs, checked and packed into build-win32/orvex-<version>-win32.zip.
#
# Usage: tools/windows/build.sh [i686|x86_64]...   (default: i686)
#   i686    the 32-bit programs we ship   -> build-win32/
#   x86_64  the same sources for 64-bit Windows, for running the tests under
#           Wine on machines that cannot execute 32-bit programs -> build-win64/
# Environment: ORVEX_WERROR=ON turns warnings into errors; ORVEX_WINDOWS_NO_DEPS=1
# skips installing Debian packages.
set -euo pipefail
cd "$(dirname "$0")/../.."

archs=("${@:-i686}")

# Qt's third-party notices for the code linked into the programs, from the
# attribution files in Qt's source. The JPEG and zlib libraries are Debian's
# own (tools/windows/libs.sh), with notices of their own.
attribution_dirs=(
    src/3rdparty/double-conversion src/3rdparty/easing src/3rdparty/freebsd
    src/3rdparty/freetype src/3rdparty/harfbuzz-ng src/3rdparty/icc
    src/3rdparty/md4 src/3rdparty/md4c
    src/3rdparty/md5 src/3rdparty/pcre2 src/3rdparty/rfc6234 src/3rdparty/sha1
    src/3rdparty/sha3 src/3rdparty/tinycbor
    src/corelib/codecs src/corelib/io src/corelib/kernel src/corelib/text
    src/gui/painting src/gui/text
)

make_zip() {
    local build=$1 suffix=$2
    local version
    version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
    local name=orvex-$version-$suffix
    local stage=$build/zip/$name
    rm -rf "$build/zip" "$build/$name.zip"
    mkdir -p "$stage/LICENSES"
    cp LICENSE "$stage/LICENSES/Orvex-LICENSE.txt"
    cp "$build"/orvex.exe "$build"/orvex-crosshair.exe "$build"/orvex-plain.exe \
        "$build"/tools/camsim/orvex-camsim.exe "$stage/"
    "$triple-strip" "$stage"/*.exe

    # The licence texts come from the very source Qt was built from.
    local source
    source=$(tools/windows/qt.sh source | tail -n1)
    local dsc
    dsc=$(basename "$(ls "$source"/qtbase-opensource-src_*.dsc)" .dsc)
    local licenses=$build/qt-source
    rm -rf "$licenses"
    dpkg-source --no-check -x "$source/$dsc.dsc" "$licenses" >/dev/null
    cp "$licenses/LICENSE.LGPL3" "$stage/LICENSES/Qt-LGPL-3.0.txt"
    cp "$licenses/LICENSE.GPL3" "$stage/LICENSES/GPL-3.0.txt"
    local dirs=()
    for d in "${attribution_dirs[@]}"; do dirs+=("$licenses/$d"); done
    tools/windows/notices.py "$stage/LICENSES/THIRD-PARTY-NOTICES.txt" "${dirs[@]}"
    local qt_version=${dsc#*_}
    qt_version=${qt_version%%+*}

    # Debian's libraries, with the licence each carries and its source package.
    local libraries=$build/libraries.txt notes
    : >"$libraries"
    for notes in "$qt"/share/orvex-libs/*/; do
        local package lib_source lib_version
        package=$(basename "$notes")
        lib_source=$(cat "$notes/source")
        lib_version=${lib_source#*_}
        lib_version=${lib_version%%[-+]*}
        lib_version=${lib_version%.dfsg}
        local licences=("$notes"/LICENSE*)
        cp "${licences[0]}" "$stage/LICENSES/$package-LICENSE.txt"
        printf '  %s %s, Debian source package %s,\n    licence: LICENSES\\%s\n' \
            "$package" "$lib_version" "$lib_source" "$package-LICENSE.txt" >>"$libraries"
    done
    sed -e "s/@ORVEX_VERSION@/$version/" -e "s/@QT_VERSION@/$qt_version/" \
        -e "s/@QT_SOURCE_PACKAGE@/$dsc/" -e "/@LIBRARIES@/{r $libraries" -e "d}" packaging/README.txt.in |
        sed 's/$/\r/' >"$stage/README.txt"
    (cd "$build/zip" && zip -qr "../$name.zip" "$name")
    rm -rf "$licenses"
    echo "Packed $build/$name.zip"
}

[ "${ORVEX_WINDOWS_NO_DEPS:-0}" = 1 ] || tools/windows/deps.sh

for arch in "${archs[@]}"; do
    # The folders of the presets windows-i686 and windows-x86_64.
    case "$arch" in
    i686) build=build-win32 suffix=win32 ;;
    x86_64) build=build-win64 suffix=win64 ;;
    *)
        echo "build.sh: unknown architecture '$arch'" >&2
        exit 2
        ;;
    esac
    triple=$arch-w64-mingw32
    start=$SECONDS
    qt=$(tools/windows/qt.sh "$arch" | tail -n1)
    echo "== Qt for $arch ready after $((SECONDS - start)) s"

    start=$SECONDS
    # The preset windows-<arch>, in CMakePresets.json, on the Qt just built.
    cmake --preset "windows-$arch" -DCMAKE_PREFIX_PATH="$qt" \
        -DORVEX_WERROR="${ORVEX_WERROR:-OFF}" >/dev/null
    cmake --build --preset "windows-$arch" -j"${ORVEX_JOBS:-2}"
    tools/windows/check-programs.sh "$build" "$arch"
    make_zip "$build" "$suffix"
    echo "== Orvex for $arch built in $((SECONDS - start)) s"
done
