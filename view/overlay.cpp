// SPDX-License-Identifier: MIT
#include "overlay.h"

#include <QPainter>
#include <QTime>

namespace {

constexpr int kWindowMs = 1000;

QPen overlayPen(Qt::GlobalColor color, qreal width)
{
    return QPen(QBrush(color, Qt::SolidPattern), width, Qt::SolidLine, Qt::SquareCap,
                Qt::BevelJoin);
}

} // namespace

void drawCrosshair(QPainter &painter)
{
    painter.setPen(overlayPen(Qt::green, 2.0));
    painter.drawPoint(329, 249);

    // Each arm stops 10 pixels short of the centre, leaving the target visible.
    painter.setPen(overlayPen(Qt::red, 2.0));
    painter.drawLine(309, 249, 319, 249);
    painter.drawLine(339, 249, 349, 249);
    painter.drawLine(329, 229, 329, 239);
    painter.drawLine(329, 259, 329, 269);

    painter.setPen(overlayPen(Qt::green, 1.0));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(278, 198, 102, 102);
}

void drawFrameRate(QPainter &painter, int fps)
{
    painter.setPen(overlayPen(Qt::green, 2.0));
    painter.drawText(QPointF(15.0, 25.0), QString::asprintf("%d FPS", fps));
}

int FrameRateCounter::tick(QTime &lastTime, const QTime &now)
{
    // Zero while no window is open yet. Across midnight the distance is
    // nearly a whole day, which closes the window at once.
    const int d = now.msecsTo(lastTime);
    ++paintCount;
    if (d == 0) {
        lastTime = now;
    } else if (qAbs(d) > kWindowMs - 1) {
        shownFps = paintCount;
        paintCount = 0;
        lastTime = now;
    }
    return shownFps;
}
