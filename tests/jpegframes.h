#ifndef JPEGFRAMES_H
#define JPEGFRAMES_H

#include <QBuffer>
#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QSize>
#include <QWidget>

// Frames as a camera sends them, built from real JPEG files.
namespace JpegFrames {

inline const QByteArray startMarker()
{
    return QByteArrayLiteral("J_S=");
}

inline const QByteArray endMarker()
{
    return QByteArrayLiteral("J_E;");
}

inline QByteArray jpeg(const QImage &image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 95);
    return bytes;
}

// A JPEG file of one solid colour.
inline QByteArray jpeg(const QColor &colour, const QSize &size = QSize(160, 120))
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    return jpeg(image);
}

inline QByteArray framed(const QByteArray &body)
{
    return startMarker() + body + endMarker();
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
