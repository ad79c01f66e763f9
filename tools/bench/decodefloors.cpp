// SPDX-License-Identifier: MIT
#include "decodefloors.h"

#include "framedecoder.h"
#include "stats.h"
#include "widgettestaccess.h"

#include <QCoreApplication>
#include <QImage>

#include <turbojpeg.h>

namespace {

// What the view shows of a picture, from (0, 0).
const QSize kShownPart(630, 470);

// CPU per frame of a decode loop that runs for at least minMs of CPU.
template<typename Decode> double decodeLoopMs(const FrameSet &frames, double minMs, Decode decode)
{
    const double start = threadCpuMs();
    long decoded = 0;
    double used = 0.0;
    while (used < minMs) {
        for (const QByteArray &frame : frames)
            decode(frame);
        decoded += long(frames.size());
        used = threadCpuMs() - start;
    }
    return used / double(decoded);
}

} // namespace

double qtDecodeMs(const FrameSet &frames, double minMs)
{
    QImage image;
    return decodeLoopMs(frames, minMs, [&image](const QByteArray &frame) {
        image.loadFromData(reinterpret_cast<const uchar *>(frame.constData()), frame.size());
        if (image.isNull())
            qFatal("Qt could not decode a benchmark frame");
    });
}

double turboDecodeMs(const FrameSet &frames, double minMs)
{
    tjhandle handle = tjInitDecompress();
    std::vector<unsigned char> pixels;
    const double ms = decodeLoopMs(frames, minMs, [&](const QByteArray &frame) {
        auto *jpeg = reinterpret_cast<const unsigned char *>(frame.constData());
        int width = 0, height = 0, subsampling = 0, colorspace = 0;
        if (tjDecompressHeader3(handle, jpeg, frame.size(), &width, &height, &subsampling,
                                &colorspace)
            != 0)
            qFatal("libjpeg-turbo could not read a benchmark frame's header");
        pixels.resize(size_t(width) * size_t(height) * 4);
        if (tjDecompress2(handle, jpeg, frame.size(), pixels.data(), width, 0, height, TJPF_BGRX, 0)
            != 0)
            qFatal("libjpeg-turbo could not decode a benchmark frame");
    });
    tjDestroy(handle);
    return ms;
}

double decodeFrameMs(const FrameSet &frames, double minMs, PictureStorage storage)
{
    FrameDecoder decoder;
    QImage kept;
    return decodeLoopMs(frames, minMs, [&decoder, &kept, storage](const QByteArray &frame) {
        QImage fresh;
        QImage *picture = storage == PictureStorage::Reused ? &kept : &fresh;
        decoder.decode(frame.constData(), frame.size(), picture, kShownPart);
        if (picture->isNull())
            qFatal("the view's decode refused a benchmark frame");
    });
}

double showFrameMs(const FrameSet &frames, double minMs)
{
    Widget window;
    Orvex *view = WidgetTestAccess::view(window);
    return decodeLoopMs(frames, minMs, [view](const QByteArray &frame) {
        view->showFrame(frame.constData(), frame.size());
    });
}

double paintMs(const QByteArray &frame, double minMs)
{
    Widget window;
    window.show();
    Orvex *view = WidgetTestAccess::view(window);
    view->showFrame(frame.constData(), frame.size());
    QCoreApplication::processEvents();
    return decodeLoopMs(FrameSet {frame}, minMs, [view](const QByteArray &) { view->repaint(); });
}
