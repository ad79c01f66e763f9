// SPDX-License-Identifier: MIT
#ifndef JPEGFRAMES_H
#define JPEGFRAMES_H

#include "jpegwriter.h"
#include "wire.h"

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QSize>
#include <QWidget>

// Frames as a camera sends them, built from real JPEG files, and the colour
// comparisons that judge what the view shows of them.
namespace JpegFrames {

// High enough that a solid colour comes back within a few levels.
constexpr int kQuality = 95;

inline QByteArray jpeg(const QImage &image)
{
    return encodeJpeg(image, {kQuality});
}

// A JPEG file of one solid colour.
inline QByteArray jpeg(const QColor &colour, const QSize &size = QSize(160, 120))
{
    return solidJpeg(colour, size, {kQuality});
}

// The colour the widget paints at point, read from a fresh rendering.
inline QColor colourAt(QWidget *widget, const QPoint &point)
{
    return widget->grab().toImage().pixelColor(point);
}

// JPEG keeps a solid colour within a few levels per channel.
inline bool similar(const QColor &a, const QColor &b, int tolerance = 12)
{
    return qAbs(a.red() - b.red()) <= tolerance && qAbs(a.green() - b.green()) <= tolerance
        && qAbs(a.blue() - b.blue()) <= tolerance;
}

inline bool similar(QRgb a, const QColor &b, int tolerance = 12)
{
    return similar(QColor(a), b, tolerance);
}

} // namespace JpegFrames

#endif // JPEGFRAMES_H
