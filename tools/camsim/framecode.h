// SPDX-License-Identifier: MIT
#ifndef FRAMECODE_H
#define FRAMECODE_H

#include <QPoint>
#include <QRect>
#include <QSize>

QT_BEGIN_NAMESPACE
class QImage;
class QPainter;
QT_END_NAMESPACE

// The frame number as a row of black and white cells near the top of the
// test picture: 24 bits of the number, most significant first, then 8 check
// bits. A program that only sees pixels (a test grabbing the view, a
// benchmark grabbing the screen) reads back which frame is on show.
namespace FrameCode {

constexpr int kNumberBits = 24;
constexpr int kCheckBits = 8;
constexpr int kCells = kNumberBits + kCheckBits;

// Where the strip lies in a picture of the given size. It starts 24 pixels
// down, below where a viewer's frame-rate text would cover it.
QRect stripRect(const QSize &picture);

// Paints the number (modulo 2^24) into a picture of the given size.
void paint(QPainter &painter, const QSize &picture, quint32 number);

// Reads the number from image, in which a picture of the given size has its
// top-left corner at origin. Returns -1 when the cells are not a valid code.
qint64 read(const QImage &image, const QSize &picture, const QPoint &origin = QPoint());

} // namespace FrameCode

#endif // FRAMECODE_H
