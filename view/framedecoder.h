// SPDX-License-Identifier: MIT
#ifndef FRAMEDECODER_H
#define FRAMEDECODER_H

#include <QSize>

#include <memory>

QT_BEGIN_NAMESPACE
class QImage;
QT_END_NAMESPACE

// Decodes camera frames with the JPEG library, straight into the 32-bit
// picture the view paints, with the pixels and log lines of Qt's own JPEG
// reader.
class FrameDecoder
{
public:
    FrameDecoder();
    ~FrameDecoder();
    FrameDecoder(const FrameDecoder &) = delete;
    FrameDecoder &operator=(const FrameDecoder &) = delete;

    // Decodes a frame into picture (Format_RGB32) if it is affordable
    // (decodeguard.h), over the picture's own pixels when it has the size
    // needed and shares them with no copy. A frame that is refused or does not
    // decode leaves picture null. With shown, only the rows in view are
    // decoded where that comes out as a whole decode would, and only the
    // columns in view and a few beyond them: those past shown are the
    // library's edge, and not the frame's, and are never to be drawn.
    void decode(const char *data, int length, QImage *picture, const QSize &shown = QSize());

private:
    struct Library;
    std::unique_ptr<Library> library;
};

#endif // FRAMEDECODER_H
