// SPDX-License-Identifier: MIT
#include "orvex.h"

#include "overlay.h"

#include <QImage>
#include <QPaintEvent>
#include <QPainter>
#include <QRegion>

#include <cmath>

namespace {

constexpr int kViewWidth = 640;
constexpr int kViewHeight = 480;
// The picture sits 10 pixels in from the view's corner, at its own size (in
// the desktop's scaled pixels).
const QPointF kPictureOrigin(10.0, 10.0);
// The part of a picture the view shows, in the picture's own pixels.
const QSize kShownPart(kViewWidth - 10, kViewHeight - 10);

// At whole display scales each picture pixel becomes a square of screen
// pixels: sharp, and the cheapest draw. At fractional ones nearest-pixel
// scaling gives rows and columns of uneven width, which smoothing evens out
// for two to three times the cost of that draw (docs/performance.md).
bool drawsSmooth(qreal scale)
{
    return scale != std::floor(scale);
}

// Where the view shows picture, in the view's coordinates.
QRect shownArea(const QImage &picture)
{
    if (picture.isNull())
        return QRect();
    return QRect(kPictureOrigin.toPoint(), picture.size().boundedTo(kShownPart));
}

#if ORVEX_OVERLAY >= 2
// One counter for the whole process: the readout counts the view's paints.
FrameRateCounter frameRate;
TimeOfDayClock timeOfDay;
#endif

} // namespace

Orvex::Orvex(QWidget *parent) : QWidget(parent)
{
    setFixedSize(kViewWidth, kViewHeight);
    // The picture hides nearly all of the window behind the view: the paint
    // below fills only what it leaves uncovered, rather than have the window
    // paint its whole background there first at every frame.
    setAttribute(Qt::WA_OpaquePaintEvent);
    image = new QImage(kViewWidth, kViewHeight, QImage::Format_RGB32);
    image->fill(QColor(0, 0, 0));
    pictureArea = shownArea(*image);
}

Orvex::~Orvex()
{
    delete image;
}

void Orvex::showFrame(const char *data, int length)
{
    // Frames can come faster than they decode; a frame replaced before the
    // next paint costs this copy and nothing more.
    newestFrame.assign(data, data + qMax(0, length));
    newFrame = true;
    // Of the view only the picture changes, and the readout over it: the
    // rest stays as the last paint left it.
    QRect changing = pictureArea;
#if ORVEX_OVERLAY >= 2
    changing |= readout.area(font());
#endif
    update(changing);
}

void Orvex::paintEvent(QPaintEvent *event)
{
    if (newFrame) {
        decoder.decode(newestFrame.data(), int(newestFrame.size()), image, kShownPart);
        newFrame = false;
        ++decodes;
        if (!image->isNull()) {
            // A picture larger than the last one is shown whole by a second
            // paint, of the part this one does not reach.
            pictureArea = shownArea(*image);
            const QRegion missed = QRegion(pictureArea) - event->region();
            if (!missed.isEmpty())
                update(missed);
        }
    }
    QPainter painter(this);
#if ORVEX_OVERLAY >= 2
    const int fps = frameRate.tick(lastTime, timeOfDay.now());
#endif
    const QRect shown = shownArea(*image);
    for (const QRect &band : event->region() - shown)
        painter.fillRect(band, palette().brush(backgroundRole()));
    if (!shown.isEmpty()) {
        painter.setRenderHint(QPainter::SmoothPixmapTransform, drawsSmooth(devicePixelRatioF()));
        // Columns decoded past those shown are not the frame's own.
        painter.drawImage(kPictureOrigin, *image, QRectF(QPointF(0, 0), shown.size()));
        painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    }
#if ORVEX_OVERLAY >= 1
    drawCrosshair(painter);
#endif
#if ORVEX_OVERLAY >= 2
    readout.draw(painter, fps);
#endif
}
