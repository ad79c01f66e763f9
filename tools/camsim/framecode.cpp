// SPDX-License-Identifier: MIT
#include "framecode.h"

#include <QImage>
#include <QPainter>

namespace {

constexpr int kTop = 24;
constexpr int kHeight = 16;
// One cell of margin on each side of the strip.
constexpr int kColumns = FrameCode::kCells + 2;

quint32 checkBits(quint32 number)
{
    return ((number ^ (number >> 8) ^ (number >> 16)) & 0xFF) ^ 0xA5;
}

quint32 codeWord(quint32 number)
{
    number &= (1u << FrameCode::kNumberBits) - 1;
    return (number << FrameCode::kCheckBits) | checkBits(number);
}

int cellWidth(const QSize &picture)
{
    return picture.width() / kColumns;
}

} // namespace

namespace FrameCode {

QRect stripRect(const QSize &picture)
{
    const int w = cellWidth(picture);
    return QRect(w, kTop, w * kCells, kHeight);
}

void paint(QPainter &painter, const QSize &picture, quint32 number)
{
    const QRect strip = stripRect(picture);
    const int w = cellWidth(picture);
    const quint32 word = codeWord(number);
    painter.save();
    painter.setPen(Qt::NoPen);
    for (int i = 0; i < kCells; ++i) {
        const bool one = (word >> (kCells - 1 - i)) & 1;
        painter.setBrush(one ? Qt::white : Qt::black);
        painter.drawRect(strip.x() + i * w, strip.y(), w, strip.height());
    }
    painter.restore();
}

qint64 read(const QImage &image, const QSize &picture, const QPoint &origin)
{
    const QRect strip = stripRect(picture).translated(origin);
    const int w = cellWidth(picture);
    if (w < 2 || !image.rect().contains(strip))
        return -1;

    quint32 word = 0;
    const int y = strip.center().y();
    for (int i = 0; i < kCells; ++i) {
        // The middle of the cell, away from the compression's ringing at its edges.
        const int x = strip.x() + i * w + w / 2;
        int sum = 0;
        for (int dy = -1; dy <= 1; ++dy)
            sum += qGray(image.pixel(x, y + dy));
        word = (word << 1) | (sum > 3 * 128 ? 1u : 0u);
    }
    const quint32 number = word >> kCheckBits;
    if ((word & 0xFF) != checkBits(number))
        return -1;
    return number;
}

} // namespace FrameCode
