#include "jpegfiles.h"

#include <QBuffer>
#include <QImage>
#include <QImageWriter>

namespace {

constexpr int kMaxSegmentBody = 65535 - 2;

// count bytes of pattern, repeated.
QByteArray repeated(const QByteArray &pattern, int count)
{
    QByteArray bytes;
    bytes.reserve(count);
    while (bytes.size() < count)
        bytes.append(pattern.constData(), qMin(pattern.size(), count - bytes.size()));
    return bytes;
}

} // namespace

QByteArray encodeJpeg(const QImage &image, const JpegOptions &options)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(options.quality);
    writer.setProgressiveScanWrite(options.progressive);
    writer.setOptimizedWrite(options.optimized);
    if (!writer.write(image))
        qWarning("cannot encode a JPEG: %s", qPrintable(writer.errorString()));
    return bytes;
}

QByteArray solidJpeg(const QColor &colour, const QSize &size, const JpegOptions &options)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    return encodeJpeg(image, options);
}

int findSegment(const QByteArray &jpeg, int code)
{
    const auto *b = reinterpret_cast<const unsigned char *>(jpeg.constData());
    int at = 2;
    while (at + 3 < jpeg.size() && b[at] == 0xFF) {
        if (b[at + 1] == code)
            return at;
        if (b[at + 1] == 0xDA)
            return -1;
        at += 2 + (b[at + 2] << 8 | b[at + 3]);
    }
    return -1;
}

QByteArray withDeclaredSize(QByteArray jpeg, int width, int height)
{
    int sof = findSegment(jpeg, 0xC0);
    if (sof < 0)
        sof = findSegment(jpeg, 0xC2);
    if (sof < 0 || sof + 9 > jpeg.size())
        return QByteArray();
    char *b = jpeg.data();
    b[sof + 5] = char(height >> 8);
    b[sof + 6] = char(height & 0xFF);
    b[sof + 7] = char(width >> 8);
    b[sof + 8] = char(width & 0xFF);
    return jpeg;
}

QByteArray withExtraScans(const QByteArray &progressiveJpeg, int count)
{
    static const char scan[] = "\xFF\xDA\x00\x08\x01\x01\x00\x01\x3F\x00";
    const QByteArray one = QByteArray::fromRawData(scan, sizeof scan - 1);
    QByteArray extra;
    extra.reserve(one.size() * count);
    for (int i = 0; i < count; ++i)
        extra += one;
    const int eoi = progressiveJpeg.size() - 2;
    return progressiveJpeg.left(eoi) + extra + progressiveJpeg.mid(eoi);
}

QByteArray withPadding(const QByteArray &jpeg, int length, const QByteArray &pattern)
{
    QByteArray padding;
    int missing = length - jpeg.size();
    while (missing > 0) {
        int body = qBound(0, missing - 4, kMaxSegmentBody);
        // A segment takes four bytes at the least: leave room for a last one.
        const int left = missing - body - 4;
        if (left > 0 && left < 4)
            body -= 4;
        const int segmentLength = body + 2;
        padding += QByteArray("\xFF\xFE", 2) + char(segmentLength >> 8) + char(segmentLength & 0xFF)
            + repeated(pattern, body);
        missing -= body + 4;
    }
    return jpeg.left(2) + padding + jpeg.mid(2);
}
