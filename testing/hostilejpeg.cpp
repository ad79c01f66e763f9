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
