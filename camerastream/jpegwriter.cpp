// SPDX-License-Identifier: MIT
#include "jpegwriter.h"

#include <QBuffer>
#include <QImage>
#include <QImageWriter>

#include <cstdio> // before jpeglib.h, which needs FILE
#include <cstdlib>
#include <vector>

#include <jpeglib.h>

namespace {

constexpr int kMaxSegmentBody = 65535 - 2;

// count bytes of pattern, repeated.
QByteArray repeated(const QByteArray &pattern, int count)
{
    QByteArray bytes;
    bytes.reserve(count);
    while (bytes.size() < count)
        bytes.append(pattern.constData(), qMin(pattern.size(), count - bytes.size()));
    return bytes;
}

// Layouts Qt's writer does not make, written by the JPEG library directly.
QByteArray encodeWithLibjpeg(const QImage &source, const JpegOptions &options)
{
    const bool grey = options.colours == JpegColours::Grey;
    const bool cmyk = options.colours == JpegColours::Cmyk;
    const QImage image
        = source.convertToFormat(grey ? QImage::Format_Grayscale8 : QImage::Format_RGB888);
    jpeg_compress_struct info;
    jpeg_error_mgr errors;
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char *out = nullptr;
    unsigned long outSize = 0;
    jpeg_mem_dest(&info, &out, &outSize);
    info.image_width = JDIMENSION(image.width());
    info.image_height = JDIMENSION(image.height());
    info.input_components = grey ? 1 : cmyk ? 4 : 3;
    info.in_color_space = grey ? JCS_GRAYSCALE : cmyk ? JCS_CMYK : JCS_RGB;
    jpeg_set_defaults(&info);
    if (cmyk)
        info.write_Adobe_marker = TRUE;
    jpeg_set_quality(&info, options.quality, TRUE);
    info.optimize_coding = options.optimized;
    info.restart_interval = unsigned(options.restartInterval);
    if (!grey) {
        const int across = options.colours == JpegColours::YCbCr444 ? 1
            : options.colours == JpegColours::YCbCr411              ? 4
                                                                    : 2;
        const int down = options.colours == JpegColours::YCbCr420 ? 2 : 1;
        info.comp_info[0].h_samp_factor = cmyk ? 1 : across;
        info.comp_info[0].v_samp_factor = cmyk ? 1 : down;
    }
    if (options.progressive)
        jpeg_simple_progression(&info);
    jpeg_start_compress(&info, TRUE);
    std::vector<unsigned char> cmykRow(size_t(image.width()) * 4);
    while (info.next_scanline < info.image_height) {
        auto *row = const_cast<uchar *>(image.constScanLine(int(info.next_scanline)));
        if (cmyk) {
            // Black from the brightest channel, the rest relative to it;
            // stored inverted, as readers of Adobe's files expect.
            for (int x = 0; x < image.width(); ++x) {
                const uchar *rgb = row + 3 * x;
                const int k = 255 - qMax(rgb[0], qMax(rgb[1], rgb[2]));
                unsigned char *c = &cmykRow[size_t(x) * 4];
                for (int i = 0; i < 3; ++i)
                    c[i] = uchar(k == 255 ? 255 : 255 - (255 - rgb[i] - k) * 255 / (255 - k));
                c[3] = uchar(255 - k);
            }
            row = cmykRow.data();
        }
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    const QByteArray bytes(reinterpret_cast<const char *>(out), int(outSize));
    std::free(out);
    return bytes;
}

} // namespace

QByteArray encodeJpeg(const QImage &image, const JpegOptions &options)
{
    if (options.colours != JpegColours::YCbCr420 || options.restartInterval > 0)
        return encodeWithLibjpeg(image, options);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(options.quality);
    writer.setProgressiveScanWrite(options.progressive);
    writer.setOptimizedWrite(options.optimized);
    if (!writer.write(image))
        qWarning("cannot encode a JPEG: %s", qPrintable(writer.errorString()));
    return bytes;
}

QByteArray solidJpeg(const QColor &colour, const QSize &size, const JpegOptions &options)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    return encodeJpeg(image, options);
}

QByteArray withPadding(const QByteArray &jpeg, int length, const QByteArray &pattern)
{
    QByteArray padding;
    int missing = length - jpeg.size();
    while (missing > 0) {
        int body = qBound(0, missing - 4, kMaxSegmentBody);
        // A segment takes four bytes at the least: leave room for a last one.
        const int left = missing - body - 4;
        if (left > 0 && left < 4)
            body -= 4;
        const int segmentLength = body + 2;
        padding += QByteArray("\xFF\xFE", 2) + char(segmentLength >> 8) + char(segmentLength & 0xFF)
            + repeated(pattern, body);
        missing -= body + 4;
    }
    return jpeg.left(2) + padding + jpeg.mid(2);
}
