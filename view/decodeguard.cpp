// SPDX-License-Identifier: MIT
#include "decodeguard.h"

#include <QSize>

#include <cstring>

namespace {

// The camera is not trusted: a few hundred bytes can declare a picture of
// gigabytes. 4096 x 4096 at 32 bits is 64 MiB, affordable even in 32 bits.
constexpr int kMaxPictureSide = 4096;

// The JPEG decoder walks every block of the picture once per scan, even for a
// scan that carries no data, so ten bytes per scan can freeze the window for
// minutes. Encoders write ten scans or so; 32 scans of the largest picture
// cost about half a second.
constexpr qint64 kMaxScanPixels = 32 * qint64(kMaxPictureSide) * kMaxPictureSide;

// Huffman coding spends a bit or more per 8x8 block, so a whole frame holds at
// most some 500 pixels a byte (a flat grey one, 255). Past that the decoder
// makes up the picture, and a stream of such frames would keep the window
// busy thousands of times longer than their bytes take to arrive.
constexpr qint64 kMaxPixelsPerByte = 1024;
// Summed over its scans, a real progressive frame decodes at most some 1700
// pixels a byte (a flat one in the usual ten scans); 8192 leaves room for
// longer scan scripts and bounds the decoding time per byte received.
constexpr qint64 kMaxScanPixelsPerByte = 8192;

// Counts start-of-scan markers, stopping once there are more than limit.
// Entropy-coded data never holds 0xFF 0xDA (its 0xFF bytes are followed by 0x00
// or a restart marker), so this never undercounts; metadata may make it
// overcount, which errs on the safe side.
qint64 countScans(const char *data, int length, qint64 limit)
{
    qint64 scans = 0;
    const char *p = data;
    const char *const end = data + length;
    while (p < end && scans <= limit) {
        const auto *ff = static_cast<const char *>(std::memchr(p, 0xFF, size_t(end - p)));
        if (!ff || ff + 1 == end)
            break;
        if (static_cast<unsigned char>(ff[1]) == 0xDA)
            ++scans;
        p = ff + 1;
    }
    return scans;
}

bool isProgressiveFrameMarker(unsigned char code)
{
    return code == 0xC2 || code == 0xC6 || code == 0xCA || code == 0xCE;
}

} // namespace

bool isAffordable(const QSize &size, const char *data, int length)
{
    if (length <= 0 || size.width() > kMaxPictureSide || size.height() > kMaxPictureSide)
        return false;
    const qint64 pixels = qMax<qint64>(1, qint64(size.width()) * size.height());
    if (pixels > kMaxPixelsPerByte * length)
        return false;
    const qint64 maxScans = qMin(kMaxScanPixels, kMaxScanPixelsPerByte * length) / pixels;
    return countScans(data, length, maxScans) <= maxScans;
}

// A progressive frame is read to its end before any row comes out, so its
// errors show either way. A sequential one is read as its rows come out, and
// only a whole decode reaches what follows its scan: a marker there other than
// the end of image (another scan, a bad marker, a marker in damaged data) may
// fail the decode, so such a frame is decoded whole. Data that just stops is
// made up the same way in both.
bool mayStopEarly(const char *data, int length)
{
    const auto *b = reinterpret_cast<const unsigned char *>(data);
    int at = 2;
    // The segments before the first scan, each with its length.
    for (;;) {
        if (at + 4 > length || b[at] != 0xFF)
            return false;
        const unsigned char code = b[at + 1];
        if (isProgressiveFrameMarker(code))
            return true;
        if (code == 0xFF) { // a fill byte
            ++at;
            continue;
        }
        if (code == 0x01 || (code >= 0xD0 && code <= 0xD7)) { // no length
            at += 2;
            continue;
        }
        at += 2 + (b[at + 2] << 8 | b[at + 3]);
        if (code == 0xDA)
            break;
    }
    // The scan's coded data holds 0xFF only as 0xFF 0x00 or as a restart
    // marker; fill bytes (more 0xFF) may precede any marker.
    while (at < length) {
        const auto *ff
            = static_cast<const unsigned char *>(std::memchr(b + at, 0xFF, size_t(length - at)));
        if (!ff)
            return true;
        at = int(ff - b) + 1;
        while (at < length && b[at] == 0xFF)
            ++at;
        if (at == length)
            return true;
        const unsigned char code = b[at];
        if (code == 0xD9)
            return true;
        if (code != 0x00 && (code < 0xD0 || code > 0xD7))
            return false;
    }
    return true;
}
