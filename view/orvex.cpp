#include "orvex.h"

#include "decodeguard.h"
#include "overlay.h"

#include <QImage>
#include <QPainter>
#include <QRegion>

namespace {

constexpr int kViewWidth = 640;
constexpr int kViewHeight = 480;
// The picture sits 10 pixels in from the view's corner, unscaled.
const QPointF kPictureOrigin(10.0, 10.0);
// The part of a picture the view shows, in the picture's own pixels.
const QSize kShownPart(kViewWidth - 10, kViewHeight - 10);

#if ORVEX_OVERLAY >= 2
// One counter for the whole process: the readout counts the view's paints.
FrameRateCounter frameRate;
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
    update();
}

void Orvex::paintEvent(QPaintEvent *)
{
    if (newFrame) {
        decodeFrame(newestFrame.data(), int(newestFrame.size()), image, kShownPart);
        newFrame = false;
        ++decodes;
    }
    QPainter painter(this);
#if ORVEX_OVERLAY >= 2
    const int fps = frameRate.tick(lastTime, QTime::currentTime());
#endif
    QRegion uncovered(rect());
    if (!image->isNull() && !image->hasAlphaChannel())
        uncovered -= QRect(kPictureOrigin.toPoint(), image->size());
    for (const QRect &band : uncovered)
        painter.fillRect(band, palette().brush(backgroundRole()));
    painter.drawImage(kPictureOrigin, *image);
#if ORVEX_OVERLAY >= 1
    drawCrosshair(painter);
#endif
#if ORVEX_OVERLAY >= 2
    drawFrameRate(painter, fps);
#endif
}
