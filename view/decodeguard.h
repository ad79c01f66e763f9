// SPDX-License-Identifier: MIT
#ifndef DECODEGUARD_H
#define DECODEGUARD_H

#include <QtGlobal>

QT_BEGIN_NAMESPACE
class QImage;
class QImageReader;
class QSize;
QT_END_NAMESPACE

// The camera is not trusted. Judges a frame by its header alone (and, for a
// JPEG, by counting its scans) before anything is allocated for its pixels:
// false for frames whose decoding would cost far more than their bytes are
// worth. The reader is left ready to decode the frame.
bool isAffordable(QImageReader &reader, const char *data, int length);

// Decodes a frame into picture if it is affordable, writing over the
// picture's pixels when the frame has the same size and format. A frame that
// is refused or does not decode leaves picture null. Of a frame larger than
// shown (when given), only the top-left part of that size is decoded where
// that comes out exactly as the same part of a whole decode would.
void decodeFrame(const char *data, int length, QImage *picture, const QSize &shown);
void decodeFrame(const char *data, int length, QImage *picture);

#endif // DECODEGUARD_H
