// SPDX-License-Identifier: MIT
#ifndef DECODEFLOORS_H
#define DECODEFLOORS_H

#include "frames.h"

// What decoding a frame costs on its own, in CPU milliseconds per frame, each
// measured over at least minMs of CPU: the floors the viewer is held against,
// and the view's own steps.

double qtDecodeMs(const FrameSet &frames, double minMs);
double turboDecodeMs(const FrameSet &frames, double minMs);

enum class PictureStorage {
    Reused, // decoded over the last frame's picture, as the view does
    Fresh, // a new picture for every frame
};

// The view's decode step (FrameDecoder: header checks, then the decode of the
// part of the picture the view shows).
double decodeFrameMs(const FrameSet &frames, double minMs, PictureStorage storage);

// Orvex::showFrame on a window that is not shown, so no paint, hence no
// decode, follows: what a frame superseded before the next paint costs the
// view.
double showFrameMs(const FrameSet &frames, double minMs);

// One repaint of the view showing frame, with what the window draws below it.
double paintMs(const QByteArray &frame, double minMs);

#endif // DECODEFLOORS_H
