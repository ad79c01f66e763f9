#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Checks that every Windows program of a build decodes with Debian 12's
# libjpeg-turbo and zlib (tools/windows/libs.sh) and carries no trace of the
# copies bundled in Qt's source. Both libraries embed their version: libjpeg-
# turbo as "libjpeg-turbo version X", zlib in its inflate and deflate
# copyright lines.
# Usage: tools/windows/check-libraries.sh BUILD_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:?usage: check-libraries.sh BUILD_DIR}

# Debian's releases, as libs.sh builds them; the bundled ones, from the
# attribution files of the Qt source the programs were built against.
debian_version() { sed -n "s/^libraries=.*\b$1:\([0-9.]*\).*/\1/p" "$here/libs.sh"; }
bundled_version() {
    local qt_source
    qt_source=$("$here/qt.sh" source | tail -n1)
    tar -xOf "$qt_source"/qtbase-opensource-src_*.orig.tar.* --wildcards \
        "*/src/3rdparty/$1/qt_attribution.json" | sed -n 's/.*"Version": *"\([0-9.]*\)".*/\1/p' | head -n1
}
jpeg=$(debian_version libjpeg-turbo)
zlib=$(debian_version zlib)
bundled_jpeg=$(bundled_version libjpeg)
bundled_zlib=$(bundled_version zlib)
for v in "$jpeg" "$zlib" "$bundled_jpeg" "$bundled_zlib"; do
    [ -n "$v" ] || {
        echo "check-libraries.sh: cannot tell the libraries' versions" >&2
        exit 2
    }
done

failed=0 checked=0
while IFS= read -r exe; do
    checked=$((checked + 1))
    problems=()
    grep -aqF "libjpeg-turbo version $jpeg " "$exe" || problems+=("no libjpeg-turbo $jpeg")
    grep -aqF " inflate $zlib Copyright" "$exe" || problems+=("no zlib $zlib")
    grep -aqF "libjpeg-turbo version $bundled_jpeg " "$exe" && problems+=("Qt's bundled libjpeg-turbo $bundled_jpeg")
    grep -aqE " (in|de)flate $bundled_zlib Copyright" "$exe" && problems+=("Qt's bundled zlib $bundled_zlib")
    if [ ${#problems[@]} -gt 0 ]; then
        joined=$(printf '%s, ' "${problems[@]}")
        echo "$exe: ${joined%, }"
        failed=1
    fi
done < <(ls "$build"/orvex.exe "$build"/orvex-crosshair.exe "$build"/orvex-plain.exe \
    "$build"/tools/camsim/orvex-camsim.exe "$build"/tests/tst_*/tst_*.exe 2>/dev/null)
if [ $checked -eq 0 ]; then
    echo "check-libraries.sh: no programs in $build" >&2
    exit 1
fi
[ $failed -eq 0 ] && echo "All $checked programs carry libjpeg-turbo $jpeg and zlib $zlib, none of Qt's bundled copies"
exit $failed
