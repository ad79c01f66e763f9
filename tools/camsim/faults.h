// SPDX-License-Identifier: MIT
#ifndef FAULTS_H
#define FAULTS_H

#include "streamformat.h"

#include <QByteArray>

QT_BEGIN_NAMESPACE
class QRandomGenerator;
QT_END_NAMESPACE

// The ways a frame or the gap between frames can be spoilt on purpose to
// exercise a viewer. The framing itself is in wire.h.
namespace Wire {

// Frames made by --oversize-every are at least this long: past the viewer's buffer.
constexpr int kOversizeBytes = kFrameBufferSize + 4096;

// The same bytes, except that the first is 00: no longer a JPEG start.
QByteArray breakStart(const QByteArray &jpeg);

// A JPEG padded with comment segments right after its start-of-image marker
// to at least kOversizeBytes; it still decodes to the same picture. Bytes that
// do not start like a JPEG are padded at their end instead.
QByteArray oversize(const QByteArray &jpeg);

// 1 to 64 bytes for between frames. There is no 'J' among them, so they can
// neither form a marker nor spoil the start marker that follows.
QByteArray junk(QRandomGenerator &random);

// The size of the next piece for --chunk random: often a few bytes, so that
// markers are split, sometimes a few kilobytes.
int randomChunkSize(QRandomGenerator &random);

} // namespace Wire

#endif // FAULTS_H
