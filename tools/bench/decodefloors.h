#ifndef DECODEFLOORS_H
#define DECODEFLOORS_H

#include "frames.h"

// What decoding a frame costs on its own, in CPU milliseconds per frame, each
// measured over at least minMs of CPU: the floors the viewer is held against,
// and the view's own steps.

double qtDecodeMs(const FrameSet &frames, double minMs);
double turboDecodeMs(const FrameSet &frames, double minMs);

// The view's own decode step (Orvex::showFrame) on a window that is not
// shown, so no paint follows.
double showFrameMs(const FrameSet &frames, double minMs);

// One repaint of the view showing frame, with what the window draws below it.
double paintMs(const QByteArray &frame, double minMs);

#endif // DECODEFLOORS_H
