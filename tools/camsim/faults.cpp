// SPDX-License-Identifier: MIT
#include "faults.h"

#include "jpegwriter.h"

#include <QRandomGenerator>

namespace Wire {

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
        return jpeg + QByteArray(kOversizeBytes - jpeg.size(), '.');
    return withPadding(jpeg, kOversizeBytes, QByteArrayLiteral("orvex-camsim padding. "));
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
