// SPDX-License-Identifier: MIT
#include "overlay.h"

#include <QDateTime>
#include <QFontMetrics>
#include <QPainter>
#include <QTextLayout>
#include <QTime>

#include <limits>

namespace {

constexpr int kWindowMs = 1000;
constexpr qint64 kDayMs = 24 * 60 * 60 * 1000;
constexpr qint64 kOffsetLifeMs = 1000;
const QPointF kReadoutBaseline(15.0, 25.0);

QString readoutText(int fps)
{
    return QString::asprintf("%d FPS", fps);
}

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

void FrameRateReadout::draw(QPainter &painter, int fps)
{
    if (fps != shown || painter.font() != glyphsFont) {
        // Laid out as drawText lays out a line, then moved so that the
        // baseline is at 0: drawn from the baseline's start, the glyphs land
        // exactly where drawText puts them.
        QTextLayout layout(readoutText(fps), painter.font(), painter.device());
        layout.beginLayout();
        const QTextLine line = layout.createLine();
        layout.endLayout();
        glyphs = layout.glyphRuns();
        for (QGlyphRun &run : glyphs) {
            QVector<QPointF> positions = run.positions();
            for (QPointF &position : positions)
                position.ry() -= line.ascent();
            run.setPositions(positions);
        }
        shown = fps;
        glyphsFont = painter.font();
    }
    painter.setPen(overlayPen(Qt::green, 2.0));
    for (const QGlyphRun &run : glyphs)
        painter.drawGlyphRun(kReadoutBaseline, run);
}

QRect FrameRateReadout::area(const QFont &font)
{
    if (fontArea.isNull() || font != areaFont) {
        const QFontMetrics metrics(font);
        const QString widest = readoutText(std::numeric_limits<int>::min());
        // A pixel or two of smoothing may fall outside the letters' boxes.
        fontArea
            = QRect(QPoint(int(kReadoutBaseline.x()), int(kReadoutBaseline.y()) - metrics.ascent()),
                    QSize(metrics.horizontalAdvance(widest), metrics.height()))
                  .adjusted(-2, -2, 2, 2);
        areaFont = font;
    }
    return fontArea;
}

QTime TimeOfDayClock::now()
{
    return at(QDateTime::currentMSecsSinceEpoch());
}

QTime TimeOfDayClock::at(qint64 utcMs)
{
    if (!offsetTaken || qAbs(utcMs - offsetTakenAt) >= kOffsetLifeMs) {
        offsetMs = QDateTime::fromMSecsSinceEpoch(utcMs).offsetFromUtc() * 1000;
        offsetTakenAt = utcMs;
        offsetTaken = true;
    }
    const qint64 local = utcMs + offsetMs;
    return QTime::fromMSecsSinceStartOfDay(int((local % kDayMs + kDayMs) % kDayMs));
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
