// SPDX-License-Identifier: MIT
#include "hostilejpeg.h"

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

QByteArray withoutSegments(const QByteArray &jpeg, int code)
{
    QByteArray result = jpeg;
    for (int at = findSegment(result, code); at >= 0; at = findSegment(result, code)) {
        const auto *b = reinterpret_cast<const unsigned char *>(result.constData());
        result.remove(at, 2 + (b[at + 2] << 8 | b[at + 3]));
    }
    return result;
}

QByteArray withSegment(const QByteArray &jpeg, int code, const QByteArray &body)
{
    const int length = body.size() + 2;
    const QByteArray segment
        = QByteArray(1, char(0xFF)) + char(code) + char(length >> 8) + char(length & 0xFF) + body;
    return jpeg.left(2) + segment + jpeg.mid(2);
}

QByteArray withFillBytes(const QByteArray &jpeg, int count)
{
    const QByteArray fill(count, char(0xFF));
    const auto *b = reinterpret_cast<const unsigned char *>(jpeg.constData());
    QByteArray result = jpeg.left(2);
    int at = 2;
    bool scan = false;
    while (!scan && at + 3 < jpeg.size() && b[at] == 0xFF) {
        scan = b[at + 1] == 0xDA;
        const int end = at + 2 + (b[at + 2] << 8 | b[at + 3]);
        result += fill + jpeg.mid(at, end - at);
        at = end;
    }
    const int eoi = jpeg.endsWith(QByteArray("\xFF\xD9", 2)) ? jpeg.size() - 2 : jpeg.size();
    return result + jpeg.mid(at, eoi - at) + fill + jpeg.mid(eoi);
}

QByteArray withoutLastComponent(const QByteArray &jpeg)
{
    QByteArray result = jpeg;
    // Frame header: length, precision, height, width, count, then 3 bytes a
    // component; scan header: length, count, then 2 bytes a component.
    const struct
    {
        int code, countAt, perComponent;
    } headers[] = {{0xC0, 9, 3}, {0xDA, 4, 2}};
    for (const auto &h : headers) {
        const int at = h.code == 0xDA ? result.indexOf(QByteArray("\xFF\xDA", 2), 2)
                                      : findSegment(result, h.code);
        if (at < 0 || at + h.countAt >= result.size())
            return QByteArray();
        char *b = result.data() + at;
        const int count = uchar(b[h.countAt]);
        const int length = (uchar(b[2]) << 8 | uchar(b[3])) - h.perComponent;
        if (count < 2)
            return QByteArray();
        b[2] = char(length >> 8);
        b[3] = char(length & 0xFF);
        b[h.countAt] = char(count - 1);
        result.remove(at + h.countAt + 1 + (count - 1) * h.perComponent, h.perComponent);
    }
    return result;
}
