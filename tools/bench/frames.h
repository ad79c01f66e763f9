// SPDX-License-Identifier: MIT
#ifndef FRAMES_H
#define FRAMES_H

#include <QByteArray>
#include <QSize>
#include <QString>

#include <cstdint>
#include <vector>

// The pictures a run works on, as complete JPEG files.
using FrameSet = std::vector<QByteArray>;

// Noisy 640x480 pictures (a soft scene under strong sensor-like noise, the
// hard case for a decoder), encoded at a small camera's quality.
FrameSet makeNoisyFrames(int count, bool progressive = false);

// Photographs of a busy scene: many soft-edged shapes, fine texture and mild
// noise, 720x477 (not a whole number of 16-pixel blocks down), coded 4:2:0
// at a photo's usual quality.
FrameSet makePhotoFrames(int count);

// Pictures from a camera with a larger sensor than the view shows: a soft
// scene under mild noise, coded 4:2:2 as many camera sensors deliver it, at a
// small camera's quality.
FrameSet makeCameraFrames(const QSize &size, int count);

// Every frame carries its number in an application segment right after the
// start-of-image marker. It changes nothing in the picture, keeps the
// 0xFF 0xD8 0xFF start, and lets a paint tell which frame it shows from the
// first bytes of the display buffer.
QByteArray withSequence(const QByteArray &jpeg, std::uint32_t sequence);
// The number a tagged frame carries; false for a frame without one.
bool readSequence(const char *frame, std::uint32_t *sequence);
// The frame as it was before withSequence.
QByteArray withoutSequence(const QByteArray &jpeg);

// Reads count frames of a camera on 127.0.0.1:port straight off its stream,
// keeping those that start like a JPEG, without their numbers.
FrameSet captureFrames(quint16 port, int count);

bool writeFrameDirectory(const FrameSet &frames, const QString &directory);

#endif // FRAMES_H
