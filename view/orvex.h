// SPDX-License-Identifier: MIT
#ifndef ORVEX_H
#define ORVEX_H

#include "framedecoder.h"

#include <QRect>
#include <QWidget>

#include <vector>

// The class's layout depends on the program's overlay: only files compiled
// once per program may include this.
#ifndef ORVEX_OVERLAY
#error "ORVEX_OVERLAY must be 0 (picture only), 1 (crosshair) or 2 (crosshair and frame rate)"
#endif

#if ORVEX_OVERLAY >= 2
#include "overlay.h"

#include <QTime>
#endif

QT_BEGIN_NAMESPACE
class QImage;
QT_END_NAMESPACE

// Shows the newest camera picture, with this program's overlay on top.
class Orvex : public QWidget
{
    Q_OBJECT

public:
    explicit Orvex(QWidget *parent);
    ~Orvex() override;

    // Takes the newest frame, to be decoded by the paint that shows it; data
    // need not outlive the call.
    void showFrame(const char *data, int length);

    // Decodes tried so far, refused and failed frames included: at most one
    // per paint, however many frames were handed over in between.
    qint64 decodeCount() const { return decodes; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QImage *image;
#if ORVEX_OVERLAY >= 2
    QTime lastTime;
#endif
    // The bytes of the newest frame, in storage that grows to the largest
    // frame and is then kept, and whether the picture still has to catch up
    // with them.
    std::vector<char> newestFrame;
    bool newFrame = false;
    qint64 decodes = 0;
    FrameDecoder decoder;
    // The part of the view the picture covered at the last decode that gave
    // one: the next frame most likely covers the same.
    QRect pictureArea;
#if ORVEX_OVERLAY >= 2
    FrameRateReadout readout;
#endif
};

#endif // ORVEX_H
