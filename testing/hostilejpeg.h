// SPDX-License-Identifier: MIT
#ifndef HOSTILEJPEG_H
#define HOSTILEJPEG_H

#include <QByteArray>

// Real JPEG files reworked into what a hostile or broken camera might send.

// Offset of the first marker with the given code, walking the segments from
// the start of image up to the first scan; -1 if there is none.
int findSegment(const QByteArray &jpeg, int code);

// The same file with other dimensions in its frame header (baseline or
// progressive): the pixel data stays as small as it was. Empty when the file
// has no such header.
QByteArray withDeclaredSize(QByteArray jpeg, int width, int height);

// Inserts count empty scans (all AC coefficients of the first component)
// before the end of image. Each costs ten bytes on the wire but a pass over
// every block of the picture in the decoder.
QByteArray withExtraScans(const QByteArray &progressiveJpeg, int count);

#endif // HOSTILEJPEG_H
