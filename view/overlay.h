// SPDX-License-Identifier: MIT
#ifndef OVERLAY_H
#define OVERLAY_H

#include <QFont>
#include <QGlyphRun>
#include <QList>
#include <QRect>

QT_BEGIN_NAMESPACE
class QPainter;
class QTime;
QT_END_NAMESPACE

// The aiming mark: green centre point, red crosshair arms, green circle.
void drawCrosshair(QPainter &painter);

// The "<n> FPS" readout in the top-left corner, laid out again only when n
// or the font changes.
class FrameRateReadout
{
public:
    void draw(QPainter &painter, int fps);
    // Where the readout may draw, whatever number it shows, in font.
    QRect area(const QFont &font);

private:
    // The readout's glyphs, placed from the start of its baseline.
    QList<QGlyphRun> glyphs;
    int shown = -1;
    QFont glyphsFont;
    QFont areaFont;
    QRect fontArea;
};

// The local time of day, as QTime::currentTime() reads it, at a fraction of
// its cost: the zone's offset from UTC, whose lookup reads the system's zone
// file every time, is looked up again only once a second of the clock. A new
// offset (summer time, another zone) shows within that second.
class TimeOfDayClock
{
public:
    QTime now();
    // The same for the given milliseconds since the epoch.
    QTime at(qint64 utcMs);

private:
    qint64 offsetTakenAt = 0;
    bool offsetTaken = false;
    int offsetMs = 0;
};

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
