// SPDX-License-Identifier: MIT
#ifndef WIRE_H
#define WIRE_H

#include "streamformat.h"

#include <QByteArray>
#include <QVector>

// The camera's stream as a camera writes it, and as a test reads it back, with
// the viewer's own markers.

QByteArray framed(const QByteArray &body);

// True when bytes hold J_S=, J_E=, J_S; or J_E;, any of which a viewer's
// recogniser takes as a marker, cutting a frame short.
bool holdsMarker(const QByteArray &bytes);

// The three bytes every frame the viewer shows starts with.
bool startsLikeJpeg(const QByteArray &frame);

// An independent reading of a stream: frames are what lies between a start
// marker and the next end marker, everything else is outside. It knows
// nothing of the viewer's recogniser, and is only right for streams whose
// frames hold no marker, which is what the simulator promises.
struct SplitStream
{
    QVector<QByteArray> frames;
    QByteArray outside;
    QByteArray unfinished; // from a start marker on, its end not yet seen
    // Where the last complete frame ends: what follows may still turn into a
    // frame once more of the stream arrives.
    int consumed = 0;

    static SplitStream of(const QByteArray &stream);
};

#endif // WIRE_H
