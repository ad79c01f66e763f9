#include "faults.h"

#include <QRandomGenerator>

namespace {

constexpr int kMaxSegmentPayload = 65535 - 2;
const QByteArray kPadding = QByteArrayLiteral("orvex-camsim padding. ");

QByteArray padding(int size)
{
    QByteArray bytes;
    bytes.reserve(size);
    while (bytes.size() < size)
        bytes.append(kPadding.constData(), qMin(kPadding.size(), size - bytes.size()));
    return bytes;
}

} // namespace

namespace Wire {

const QByteArray kStartMarker = QByteArrayLiteral("J_S=");
const QByteArray kEndMarker = QByteArrayLiteral("J_E;");

bool containsMarker(const QByteArray &bytes)
{
    const char *p = bytes.constData();
    for (int i = bytes.indexOf("J_"); i >= 0 && i + 3 < bytes.size();
         i = bytes.indexOf("J_", i + 1)) {
        if ((p[i + 2] == 'S' || p[i + 2] == 'E') && (p[i + 3] == '=' || p[i + 3] == ';'))
            return true;
    }
    return false;
}

QByteArray wrap(const QByteArray &jpeg)
{
    QByteArray bytes;
    bytes.reserve(kStartMarker.size() + jpeg.size() + kEndMarker.size());
    bytes.append(kStartMarker).append(jpeg).append(kEndMarker);
    return bytes;
}

QByteArray breakStart(const QByteArray &jpeg)
{
    QByteArray bytes = jpeg;
    if (!bytes.isEmpty())
        bytes[0] = '\0';
    return bytes;
}

QByteArray oversize(const QByteArray &jpeg)
{
    if (jpeg.size() >= kOversizeBytes)
        return jpeg;
    if (!jpeg.startsWith("\xFF\xD8"))
        return jpeg + padding(kOversizeBytes - jpeg.size());

    QByteArray bytes;
    bytes.reserve(kOversizeBytes + 4 + kMaxSegmentPayload);
    bytes.append(jpeg.left(2));
    while (bytes.size() + jpeg.size() - 2 < kOversizeBytes) {
        const int payload = kMaxSegmentPayload;
        const int length = payload + 2;
        bytes.append('\xFF').append('\xFE');
        bytes.append(char(length >> 8)).append(char(length & 0xFF));
        bytes.append(padding(payload));
    }
    bytes.append(jpeg.mid(2));
    return bytes;
}

QByteArray junk(QRandomGenerator &random)
{
    // Bytes that take part in markers, to tempt a recogniser that is too eager.
    static const char kNearMisses[] = "_SE=;";
    const int length = 1 + int(random.bounded(64));
    QByteArray bytes(length, '\0');
    for (char &b : bytes) {
        if (random.bounded(4) == 0) {
            b = kNearMisses[random.bounded(int(sizeof kNearMisses - 1))];
        } else {
            do
                b = char(random.bounded(256));
            while (b == 'J');
        }
    }
    return bytes;
}

int randomChunkSize(QRandomGenerator &random)
{
    return random.bounded(2) ? 1 + int(random.bounded(8)) : 1 + int(random.bounded(4096));
}

} // namespace Wire
