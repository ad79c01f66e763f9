// SPDX-License-Identifier: MIT
#ifndef JPEGWRITER_H
#define JPEGWRITER_H

#include <QByteArray>
#include <QColor>
#include <QSize>

QT_BEGIN_NAMESPACE
class QImage;
QT_END_NAMESPACE

// JPEG files as cameras write them: by Qt's own encoder, or for the colour
// layouts it does not make by the JPEG library itself.

// How the picture's colours are coded. Qt's writer makes only the first and
// grey (from a grey picture); the others come from the JPEG library itself.
enum class JpegColours {
    YCbCr420, // colour at half resolution both ways, as Qt and most cameras write
    YCbCr422, // half resolution across, as many camera sensors deliver
    YCbCr444, // full resolution
    YCbCr411, // a quarter of the resolution across, as some DV-era sensors
    Grey,
    Cmyk, // four channels, inverted as Adobe's programs write them
};

struct JpegOptions
{
    int quality = 75; // around what small camera modules produce
    bool progressive = false;
    bool optimized = false;
    JpegColours colours = JpegColours::YCbCr420;
    int restartInterval = 0; // in blocks of pixels; 0 for no restart markers
};

QByteArray encodeJpeg(const QImage &image, const JpegOptions &options = {});

// A picture of one solid colour.
QByteArray solidJpeg(const QColor &colour, const QSize &size, const JpegOptions &options = {});

// The same file grown with comment segments right after its start, which the
// decoder skips, to exactly length bytes (a segment takes four at the least,
// so one to three missing bytes come out as four): as many bytes as a real
// frame of that size, as little work. pattern fills the comments.
QByteArray withPadding(const QByteArray &jpeg, int length,
                       const QByteArray &pattern = QByteArrayLiteral("x"));

#endif // JPEGWRITER_H
