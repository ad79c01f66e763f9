// SPDX-License-Identifier: MIT
#include "widget.h"

#include <QTcpSocket>

#include <cstring>

// Cuts the camera's byte stream into frames. Frames arrive as
//     J_S= <JPEG bytes> J_E;
// with no length field and no escaping. The recogniser keeps its state in
// members, so a marker may be split across chunks, but not across
// connections: no camera resumes a frame on a new one.

void Widget::on_socket_read()
{
    qint64 taken = 0;
    qint64 most = 0;
    for (;;) {
        qint64 refilled = 0;
        qint64 n;
        while ((n = socket->read(readPiece, kReadPieceSize)) > 0) {
            consumeChunk(readPiece, n);
            refilled += n;
        }
        taken += refilled;
        // The socket takes no more from the system than its buffer holds. A
        // full buffer means more may wait there: take it now, before a paint,
        // or the picture would trail the camera by that backlog. Waiting for
        // none takes what has arrived; inside this signal, readyRead is not
        // emitted again, so a direct call must not do this.
        if (refilled < socket->readBufferSize() || sender() != socket)
            break;
        // No more than the system can have held when the signal came: what
        // arrives meanwhile waits for the next signal, so that a camera as
        // fast as the window cannot keep it from painting.
        if (most == 0) {
            const qint64 held
                = socket->socketOption(QAbstractSocket::ReceiveBufferSizeSocketOption).toLongLong();
            most = held > 0 ? held : kFrameBufferSize;
        }
        if (taken >= most || !socket->waitForReadyRead(0))
            break;
    }
}

void Widget::consumeChunk(const char *data, qint64 size)
{
    if (!hasFrameBuffers())
        return;

    const char *p = data;
    const char *const end = data + size;

    // Stores a run of bytes; past the buffer's end nothing more is stored and
    // the frame is marked for dropping at its end marker.
    auto store = [this](const char *from, qint64 count) {
        if (!inFrame || frameTooLong || count <= 0)
            return;
        if (count > kFrameBufferSize - frameLength) {
            frameTooLong = true;
            return;
        }
        std::memcpy(frameBuffer + frameLength, from, size_t(count));
        frameLength += qint32(count);
    };

    while (p < end) {
        if (markerState == 0) {
            // No marker in progress: every byte up to the next 'J' is plain data,
            // so hand the whole run over at once.
            const auto *j
                = static_cast<const char *>(std::memchr(p, kStartMarker[0], size_t(end - p)));
            const char *runEnd = j ? j : end;
            store(p, runEnd - p);
            p = runEnd;
            if (p == end)
                break;
        }

        // Either third byte goes with either last one: the last alone tells a
        // start from an end, so J_S; ends a frame and J_E= starts one.
        const char b = *p++;
        switch (b) {
        case kStartMarker[0]:
            markerState = markerState == 0 ? 1 : 0;
            break;
        case kStartMarker[1]:
            markerState = markerState == 1 ? 2 : 0;
            break;
        case kStartMarker[2]:
        case kEndMarker[2]:
            markerState = markerState == 2 ? 3 : 0;
            break;
        case kStartMarker[3]:
            if (markerState == 3) {
                markerState = 0;
                inFrame = 1;
                continue;
            }
            markerState = 0;
            break;
        case kEndMarker[3]:
            if (markerState == 3) {
                endOfFrame();
                continue;
            }
            markerState = 0;
            break;
        default:
            markerState = 0;
            break;
        }
        store(p - 1, 1);
    }
}

void Widget::endOfFrame()
{
    // Stored bytes are the only ones that can be non-zero: the buffer starts
    // zeroed and each end of frame zeroes what the frame stored. Clearing just
    // those leaves all 1 MiB clear, without rewriting a megabyte per frame.
    const qint32 stored = frameLength;
    if (inFrame) {
        const auto *bytes = reinterpret_cast<const unsigned char *>(frameBuffer);
        if (frameTooLong) {
            qDebug("Jpeg error");
        } else {
            // The end marker's first three bytes were stored as frame data.
            frameLength -= kMarkerLength - 1;
            if (bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF) {
                if (captureRequested)
                    saveSnapshot();
                std::memcpy(displayBuffer, frameBuffer, size_t(frameLength));
                showInView(displayBuffer, frameLength);
            } else {
                qDebug("Jpeg error");
            }
        }
    }

    std::memset(frameBuffer, 0, size_t(stored));
    markerState = 0;
    inFrame = 0;
    frameLength = 0;
    frameTooLong = false;
}

// Forgets a frame cut off with its connection, so the next connection's first
// frame is not spliced onto it.
void Widget::resetFrameAssembly()
{
    if (frameBuffer)
        std::memset(frameBuffer, 0, size_t(frameLength));
    markerState = 0;
    inFrame = 0;
    frameLength = 0;
    frameTooLong = false;
}
