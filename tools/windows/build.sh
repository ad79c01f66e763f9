#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds Orvex for Windows on Debian: a static Qt from Debian's source
# package (cached), then the three programs, orvex-camsim.exe and the test
# programs, checked and packed into build-win32/orvex-<version>-win32.zip;
# the same programs built again to save into Pictures, in
# build-win32/orvex-<version>-win32-setup.exe (packaging/setup.nsi, made with
# Debian's nsis); and build-win32/SHA256SUMS of both. The same commit gives
# the same bytes, whatever the folder and the clock.
#
# Usage: tools/windows/build.sh [i686|x86_64]...   (default: i686)
#   i686    the 32-bit programs we ship   -> build-win32/
#   x86_64  the same sources for 64-bit Windows, for running the tests under
#           Wine on machines that cannot execute 32-bit programs -> build-win64/
# Environment: ORVEX_WERROR=ON turns warnings into errors; ORVEX_WINDOWS_NO_DEPS=1
# skips installing Debian packages; ORVEX_WINDOWS_TESTS=OFF builds no test
# programs (which the release files do not hold); SOURCE_DATE_EPOCH, the time
# the release files carry (default: the last commit's).
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

# release_files BUILD: README.txt and LICENSES\, for the zip and the setup
# program alike, in BUILD/release-files.
release_files() {
    local build=$1
    local files=$build/release-files
    rm -rf "$files"
    mkdir -p "$files/LICENSES"
    cp LICENSE "$files/LICENSES/Orvex-LICENSE.txt"

    # The licence texts come from the very source Qt was built from.
    local source
    source=$(tools/windows/qt.sh source | tail -n1)
    local dsc
    dsc=$(basename "$(ls "$source"/qtbase-opensource-src_*.dsc)" .dsc)
    local licenses=$build/qt-source
    rm -rf "$licenses"
    dpkg-source --no-check -x "$source/$dsc.dsc" "$licenses" >/dev/null
    cp "$licenses/LICENSE.LGPL3" "$files/LICENSES/Qt-LGPL-3.0.txt"
    cp "$licenses/LICENSE.GPL3" "$files/LICENSES/GPL-3.0.txt"
    local dirs=()
    for d in "${attribution_dirs[@]}"; do dirs+=("$licenses/$d"); done
    tools/windows/notices.py "$files/LICENSES/THIRD-PARTY-NOTICES.txt" "${dirs[@]}"
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
        cp "${licences[0]}" "$files/LICENSES/$package-LICENSE.txt"
        printf '  %s %s, Debian source package %s,\n    licence: LICENSES\\%s\n' \
            "$package" "$lib_version" "$lib_source" "$package-LICENSE.txt" >>"$libraries"
    done
    local commit
    commit=$(git rev-parse HEAD 2>/dev/null) || commit="(not known: built outside a git checkout)"
    sed -e "s/@ORVEX_VERSION@/$version/g" -e "s/@RELEASE@/orvex-$version-$suffix/g" \
        -e "s/@COMMIT@/$commit/g" -e "s/@QT_VERSION@/$qt_version/g" \
        -e "s/@QT_SOURCE_PACKAGE@/$dsc/g" -e "/@LIBRARIES@/{r $libraries" -e "d}" packaging/README.txt.in |
        sed 's/$/\r/' >"$files/README.txt"
    rm -rf "$licenses" "$libraries"
}

# stage DEST PROGRAMS_BUILD: the four programs of a build, stripped, and the
# release files, into DEST.
stage() {
    local dest=$1 programs=$2
    rm -rf "$dest"
    mkdir -p "$dest"
    cp -r "$build/release-files/." "$dest/"
    cp "$programs"/orvex.exe "$programs"/orvex-crosshair.exe "$programs"/orvex-plain.exe \
        "$programs"/tools/camsim/orvex-camsim.exe "$dest/"
    "$triple-strip" "$dest"/*.exe
}

# settle DIR: every file and folder under DIR with the release time and
# fixed permissions, so that neither the clock nor the umask reaches the zip
# or the setup program.
settle() {
    find "$1" -type d -exec chmod 755 {} + -o -name '*.exe' -exec chmod 755 {} + -o -type f -exec chmod 644 {} +
    find "$1" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
}

make_zip() {
    local name=orvex-$version-$suffix
    local zip=$build/zip
    rm -rf "$zip" "$build/$name.zip"
    stage "$zip/$name" "$build"
    settle "$zip/$name"
    # Names in a fixed order, not the file system's; times in UTC, as the
    # time zone would otherwise shift them; no extra fields (Unix owners and
    # times).
    (cd "$zip" && find "$name" | LC_ALL=C sort | TZ=UTC zip -X -q -@ "../$name.zip")
    echo "Packed $build/$name.zip"
}

make_setup() {
    local name=orvex-$version-$suffix-setup
    local setup=$PWD/$build/setup-files
    rm -rf "$setup" "$build/$name.exe"
    stage "$setup/Orvex" "$build/setup"
    settle "$setup/Orvex"

    # The files, listed for setup.nsi: each with its number, its name in
    # the installed folder, and its path here. Folders apart, deepest first.
    local list=$setup/files.nsh file index=0
    {
        echo '; Generated by tools/windows/build.sh: the files setup.nsi installs.'
        echo '!macro ORVEX_FILES action'
        while IFS= read -r file; do
            echo "  !insertmacro \${action} $index \"${file//\//\\}\" \"$file\""
            index=$((index + 1))
        done < <(cd "$setup/Orvex" && find . -type f -printf '%P\n' | LC_ALL=C sort)
        echo '!macroend'
        echo "!define ORVEX_FILE_COUNT $index"
        echo '!macro ORVEX_FOLDERS action'
        while IFS= read -r file; do
            echo "  !insertmacro \${action} \"${file//\//\\}\""
        done < <(cd "$setup/Orvex" && find . -mindepth 1 -type d -printf '%P\n' | LC_ALL=C sort -r)
        echo '!macroend'
    } >"$list"

    # The licence page: Orvex's, then the libraries' licences and notices,
    # as in LICENSES\; UTF-16 with a byte order mark, which the page reads
    # whatever Windows' code page.
    local text=$setup/licence.txt part
    {
        cat "$setup/Orvex/LICENSES/Orvex-LICENSE.txt"
        for part in "$setup"/Orvex/LICENSES/*; do
            [ "$(basename "$part")" = Orvex-LICENSE.txt ] && continue
            printf '\n\n%s\n\n' "----- LICENSES\\$(basename "$part") -----"
            tr -d '\r' <"$part"
        done
    } | sed 's/$/\r/' | iconv -f UTF-8 -t UTF-16 >"$text"

    local major minor patch
    IFS=. read -r major minor patch <<<"$version"
    local nsis=(-DVERSION="$version" -DVERSION_QUAD="$major.${minor:-0}.${patch:-0}.0"
        -DFILES="$list" -DSTAGE="$setup/Orvex" -DLICENCE="$text"
        -DICON="$PWD/packaging/orvex.ico" -DOUTFILE="$PWD/$build/$name.exe")
    [ "$arch" = x86_64 ] && nsis+=(-DTARGET=amd64-unicode)
    makensis -V2 -WX -INPUTCHARSET UTF8 "${nsis[@]}" packaging/setup.nsi
    echo "Made $build/$name.exe"
}

[ "${ORVEX_WINDOWS_NO_DEPS:-0}" = 1 ] || tools/windows/deps.sh

# The time the release files carry, in the zip's entries and the setup
# program's files: the last commit's, not the clock's.
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
    if ! SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2>/dev/null) || [ -z "$SOURCE_DATE_EPOCH" ]; then
        echo "build.sh: not a git checkout: set SOURCE_DATE_EPOCH to the time the release files should carry" >&2
        exit 1
    fi
fi
export SOURCE_DATE_EPOCH
if [ -n "$(git status --porcelain --untracked-files=no 2>/dev/null)" ]; then
    echo "build.sh: NOTE: the tree has uncommitted changes: its commit does not rebuild to these files" >&2
fi

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
    # Release files of an earlier build must not pass for this one's.
    rm -f "$build"/orvex-*.zip "$build"/orvex-*-setup.exe "$build/SHA256SUMS"
    # The presets windows-<arch> (the zip's programs, which save beside
    # themselves where they can, and the tests) and windows-<arch>-setup (the
    # setup program's, which always save into Pictures), in
    # CMakePresets.json, on the Qt just built.
    for preset in "windows-$arch" "windows-$arch-setup"; do
        options=()
        [ "$preset" = "windows-$arch" ] && options=(-DORVEX_BUILD_TESTS="${ORVEX_WINDOWS_TESTS:-ON}")
        cmake --preset "$preset" -DCMAKE_PREFIX_PATH="$qt" \
            -DORVEX_WERROR="${ORVEX_WERROR:-OFF}" "${options[@]}" >/dev/null
        cmake --build --preset "$preset" -j"${ORVEX_JOBS:-2}"
    done
    tools/windows/check-programs.sh "$build/setup" "$arch"
    version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
    release_files "$build"
    make_zip
    make_setup
    # The zip's programs, and the setup program.
    tools/windows/check-programs.sh "$build" "$arch"
    rm -rf "$build/release-files"
    (cd "$build" && sha256sum "orvex-$version-$suffix.zip" "orvex-$version-$suffix-setup.exe" >SHA256SUMS)
    echo "== Orvex for $arch built in $((SECONDS - start)) s"
done
