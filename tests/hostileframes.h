#ifndef HOSTILEFRAMES_H
#define HOSTILEFRAMES_H

#include <QBuffer>
#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QImageWriter>
#include <QRandomGenerator>

// Frames a hostile or broken camera might send, built from real JPEG files
// made by Qt's own encoder.
namespace HostileFrames {

inline QByteArray encode(const QImage &image, bool progressive = false, int quality = 75)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(quality);
    writer.setProgressiveScanWrite(progressive);
    writer.write(image);
    return bytes;
}

inline QByteArray solidJpeg(int width, int height, const QColor &colour, bool progressive = false)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(colour);
    return encode(image, progressive);
}

// Offset of the first marker with the given code, walking the segments from
// the start of image up to the first scan; -1 if there is none.
inline int findMarker(const QByteArray &jpeg, int code)
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

// The same file with other dimensions in its frame header (baseline or
// progressive): the pixel data stays as small as it was.
inline QByteArray withDeclaredSize(QByteArray jpeg, int width, int height)
{
    int sof = findMarker(jpeg, 0xC0);
    if (sof < 0)
        sof = findMarker(jpeg, 0xC2);
    if (sof < 0)
        return QByteArray();
    char *b = jpeg.data();
    b[sof + 5] = char(height >> 8);
    b[sof + 6] = char(height & 0xFF);
    b[sof + 7] = char(width >> 8);
    b[sof + 8] = char(width & 0xFF);
    return jpeg;
}

// Inserts count empty scans (all AC coefficients of the first component)
// before the end of image. Each costs ten bytes on the wire but a pass over
// every block of the picture in the decoder.
inline QByteArray withExtraScans(const QByteArray &progressiveJpeg, int count)
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

// The same file grown to length bytes with comment segments, which the
// decoder skips: as many bytes as a real frame of that size, as little work.
inline QByteArray withPadding(const QByteArray &jpeg, int length)
{
    QByteArray padding;
    int missing = length - jpeg.size();
    while (missing >= 4) {
        const int body = qMin(missing - 4, 65533);
        const int segment = body + 2;
        padding += QByteArray("\xFF\xFE", 2) + char(segment >> 8) + char(segment & 0xFF)
            + QByteArray(body, 'x');
        missing -= body + 4;
    }
    return jpeg.left(2) + padding + jpeg.mid(2);
}

// The JPEG start bytes followed by noise.
inline QByteArray noiseAfterStart(int length, quint32 seed)
{
    QRandomGenerator random(seed);
    QByteArray bytes(length, '\0');
    for (char &c : bytes)
        c = char(random.bounded(256));
    bytes[0] = char(0xFF);
    bytes[1] = char(0xD8);
    bytes[2] = char(0xFF);
    // The wrapping must survive: noise must not end the frame early.
    bytes.replace("J_E;", "j_E;");
    bytes.replace("J_S;", "j_S;");
    return bytes;
}

inline QByteArray framed(const QByteArray &body)
{
    return QByteArrayLiteral("J_S=") + body + QByteArrayLiteral("J_E;");
}

} // namespace HostileFrames

#endif // HOSTILEFRAMES_H
