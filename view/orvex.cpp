#include "orvex.h"

#include "overlay.h"

#include <QImage>
#include <QPainter>

#ifndef ORVEX_OVERLAY
#error "ORVEX_OVERLAY must be 0 (picture only), 1 (crosshair) or 2 (crosshair and frame rate)"
#endif

namespace {

constexpr int kViewWidth = 640;
constexpr int kViewHeight = 480;
// The picture sits 10 pixels in from the view's corner, unscaled.
const QPointF kPictureOrigin(10.0, 10.0);

#if ORVEX_OVERLAY >= 2
// One counter for the whole process: the readout counts the view's paints.
FrameRateCounter frameRate;
#endif

} // namespace

Orvex::Orvex(QWidget *parent) : QWidget(parent)
{
    setFixedSize(kViewWidth, kViewHeight);
    image = new QImage(kViewWidth, kViewHeight, QImage::Format_RGB32);
    image->fill(QColor(0, 0, 0));
}

Orvex::~Orvex()
{
    delete image;
}

void Orvex::showFrame(const char *data, int length)
{
    image->loadFromData(reinterpret_cast<const uchar *>(data), length);
    update();
}

void Orvex::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
#if ORVEX_OVERLAY >= 2
    const int fps = frameRate.tick(lastTime, QTime::currentTime());
#endif
    painter.drawImage(kPictureOrigin, *image);
#if ORVEX_OVERLAY >= 1
    drawCrosshair(painter);
#endif
#if ORVEX_OVERLAY >= 2
    drawFrameRate(painter, fps);
#endif
}
