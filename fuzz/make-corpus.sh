#!/bin/sh
# SPDX-License-Identifier: MIT
# Regenerates the committed seed corpus in fuzz/corpus: the Qt-encoded frames
# from orvex-fuzz-seeds, plus encodings Qt's writer does not offer (4:4:4 and
# 4:2:2 chroma, restart intervals, arithmetic coding, a hand-made scan script)
# made with cjpeg/djpeg/jpegtran from libjpeg-turbo-progs.
#
# usage: fuzz/make-corpus.sh [build directory with orvex-fuzz-seeds]
set -eu

repo=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$repo/build-fuzz}
corpus=$repo/fuzz/corpus

for tool in cjpeg djpeg jpegtran wrjpgcom; do
    command -v "$tool" >/dev/null || { echo "$tool missing: apt-get install libjpeg-turbo-progs" >&2; exit 1; }
done

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# A trap that did not exit would let the script carry on after Ctrl-C.
trap 'exit 130' INT
trap 'exit 143' TERM

# The new corpus is made beside the old, which it replaces only when whole.
out=$tmp/corpus
mkdir -p "$out"
cmake --build "$build" --target orvex-fuzz-seeds >/dev/null
QT_QPA_PLATFORM=offscreen "$build/fuzz/orvex-fuzz-seeds" "$out"

# A source picture: the Qt-encoded 160x120 frame without its wrapping.
tail -c +7 "$out/qvga-q30" | head -c -4 >"$tmp/source.jpg"
djpeg -pnm "$tmp/source.jpg" >"$tmp/source.ppm"
djpeg -pnm -grayscale "$tmp/source.jpg" >"$tmp/source.pgm"

# wrap <name> <flags> <seed> <jpeg>: the two control bytes, then one frame.
# The format string is built on purpose: it turns the numbers into bytes.
# shellcheck disable=SC2059
wrap() {
    { printf "\\$(printf %o "$2")\\$(printf %o "$3")J_S="; cat "$4"; printf 'J_E;'; } >"$out/$1"
}

cjpeg -quality 50 -sample 1x1 "$tmp/source.ppm" >"$tmp/a.jpg" && wrap cjpeg-444 0 5 "$tmp/a.jpg"
cjpeg -quality 50 -sample 2x1 "$tmp/source.ppm" >"$tmp/a.jpg" && wrap cjpeg-422 1 9 "$tmp/a.jpg"
cjpeg -quality 50 -sample 1x1 -progressive "$tmp/source.ppm" >"$tmp/a.jpg" && wrap cjpeg-444-prog 0 13 "$tmp/a.jpg"
cjpeg -quality 40 -restart 1B "$tmp/source.ppm" >"$tmp/a.jpg" && wrap cjpeg-restart-1block 0 17 "$tmp/a.jpg"
cjpeg -quality 40 -restart 2 "$tmp/source.ppm" >"$tmp/a.jpg" && wrap cjpeg-restart-2rows 4 19 "$tmp/a.jpg"
cjpeg -quality 40 -arithmetic "$tmp/source.ppm" >"$tmp/a.jpg" && wrap cjpeg-arithmetic 0 23 "$tmp/a.jpg"
cjpeg -quality 40 -arithmetic -progressive "$tmp/source.ppm" >"$tmp/a.jpg" && wrap cjpeg-arith-prog 0 29 "$tmp/a.jpg"
cjpeg -quality 40 -grayscale -progressive -restart 1 "$tmp/source.pgm" >"$tmp/a.jpg" && wrap cjpeg-gray-prog-restart 2 31 "$tmp/a.jpg"
cjpeg -quality 90 -dct float -optimize "$tmp/source.ppm" >"$tmp/a.jpg" && wrap cjpeg-q90-opt 0 37 "$tmp/a.jpg"

# Many small successive-approximation scans: the kind of frame whose decoding
# cost grows with the number of scans.
cat >"$tmp/scans.txt" <<'SCANS'
0,1,2: 0-0, 0, 1;
0: 1-5, 0, 2;
2: 1-63, 0, 1;
1: 1-63, 0, 1;
0: 6-63, 0, 2;
0: 1-63, 2, 1;
0,1,2: 0-0, 1, 0;
2: 1-63, 1, 0;
1: 1-63, 1, 0;
0: 1-63, 1, 0;
SCANS
jpegtran -scans "$tmp/scans.txt" "$tmp/source.jpg" >"$tmp/a.jpg" && wrap jpegtran-scan-script 0 41 "$tmp/a.jpg"

# Metadata the image library reads besides the pixels: an EXIF orientation
# (the picture is turned on load), an ICC colour profile, and a comment that
# holds a start marker.
cjpeg -quality 30 "$tmp/source.ppm" >"$tmp/plain.jpg"
{
    head -c 2 "$tmp/plain.jpg"
    printf '\377\341\000\042Exif\000\000MM\000\052\000\000\000\010'
    printf '\000\001\001\022\000\003\000\000\000\001\000\006\000\000\000\000\000\000'
    tail -c +3 "$tmp/plain.jpg"
} >"$tmp/a.jpg" && wrap exif-orientation-6 4 43 "$tmp/a.jpg"
icc=/usr/share/color/icc/ghostscript/srgb.icc
if [ -f "$icc" ]; then
    cjpeg -quality 30 -icc "$icc" "$tmp/source.ppm" >"$tmp/a.jpg" && wrap icc-srgb 0 47 "$tmp/a.jpg"
fi
wrjpgcom -comment "J_S= in a comment" "$tmp/plain.jpg" >"$tmp/a.jpg" && wrap comment-with-marker 0 53 "$tmp/a.jpg"

rm -rf "$corpus"
mv "$out" "$corpus"
