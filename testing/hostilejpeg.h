// SPDX-License-Identifier: MIT
#ifndef HOSTILEJPEG_H
#define HOSTILEJPEG_H

#include <QByteArray>

// Real JPEG files reworked into what a hostile, broken or odd camera might
// send.

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

// The same file without any segment of the given code before its first scan
// (0xC4: without Huffman tables, as many cameras send their frames).
QByteArray withoutSegments(const QByteArray &jpeg, int code);

// The same file with a segment of the given code and body right after its
// start (an APP1 with EXIF data, an APP2 with a colour profile, a comment).
QByteArray withSegment(const QByteArray &jpeg, int code, const QByteArray &body);

// The same file with count fill bytes (0xFF) before each marker up to its
// first scan, and before its end marker.
QByteArray withFillBytes(const QByteArray &jpeg, int count);

// The same baseline file declaring one component fewer in its frame header and
// its one scan (a 4:4:4 colour file becomes one with two components, which no
// colour model names). Empty when the file is not of that kind.
QByteArray withoutLastComponent(const QByteArray &jpeg);

#endif // HOSTILEJPEG_H
