// SPDX-License-Identifier: MIT
#ifndef OVERLAY_H
#define OVERLAY_H

#include <QtGlobal>

QT_BEGIN_NAMESPACE
class QPainter;
class QTime;
QT_END_NAMESPACE

// The aiming mark: green centre point, red crosshair arms, green circle.
void drawCrosshair(QPainter &painter);

// The "<n> FPS" readout in the top-left corner.
void drawFrameRate(QPainter &painter, int fps);

// Counts paints in windows of at least one second. The caller owns the start
// of the current window and passes the time of each paint, so the counting
// can be replayed without a clock.
class FrameRateCounter
{
public:
    // Counts one paint at now; returns the value to show.
    int tick(QTime &lastTime, const QTime &now);

private:
    qint32 paintCount = 0;
    qint32 shownFps = 0;
};

#endif // OVERLAY_H
