// SPDX-License-Identifier: MIT
#include "wire.h"

QByteArray framed(const QByteArray &body)
{
    QByteArray bytes;
    bytes.reserve(kMarkerLength + body.size() + kMarkerLength);
    bytes.append(kStartMarker).append(body).append(kEndMarker);
    return bytes;
}

bool holdsMarker(const QByteArray &bytes)
{
    const char *p = bytes.constData();
    const QByteArray lead(kStartMarker, 2);
    for (int i = bytes.indexOf(lead); i >= 0 && i + 3 < bytes.size();
         i = bytes.indexOf(lead, i + 1)) {
        if ((p[i + 2] == kStartMarker[2] || p[i + 2] == kEndMarker[2])
            && (p[i + 3] == kStartMarker[3] || p[i + 3] == kEndMarker[3]))
            return true;
    }
    return false;
}

bool startsLikeJpeg(const QByteArray &frame)
{
    return frame.startsWith("\xFF\xD8\xFF");
}

SplitStream SplitStream::of(const QByteArray &stream)
{
    SplitStream s;
    int pos = 0;
    for (;;) {
        const int start = stream.indexOf(kStartMarker, pos);
        if (start < 0) {
            s.outside += stream.mid(pos);
            return s;
        }
        s.outside += stream.mid(pos, start - pos);
        const int body = start + kMarkerLength;
        const int end = stream.indexOf(kEndMarker, body);
        if (end < 0) {
            s.unfinished = stream.mid(start);
            return s;
        }
        s.frames.append(stream.mid(body, end - body));
        pos = end + kMarkerLength;
        s.consumed = pos;
    }
}
