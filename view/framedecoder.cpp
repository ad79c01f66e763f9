// SPDX-License-Identifier: MIT
#include "framedecoder.h"

#include "decodeguard.h"

#include <QByteArray>
#include <QColorSpace>
#include <QImage>
#include <QtEndian>

#include <algorithm>
#include <csetjmp>
#include <cstdio> // before jpeglib.h, which needs FILE
#include <cstring>
#include <vector>

#include <jpeglib.h>
// After jpeglib.h, which it builds on.
#include <jerror.h>

namespace {

// The rows of one decoding step of the usual layouts, converted in one call.
constexpr int kRowsPerCall = 16;

// Columns decoded past the last one shown. Subsampled colour is smoothed
// across each pixel's right neighbour, and the last column decoded is taken
// for the picture's edge: with a few more, those shown come out as in a
// whole decode.
constexpr int kColumnsPastShown = 8;

// Format_RGB32 in memory. The library's X layouts leave the fourth byte
// undefined, and Qt wants 0xFF there; its alpha layouts are the same
// conversion with 0xFF written.
constexpr J_COLOR_SPACE kRgb32Layout
    = QSysInfo::ByteOrder == QSysInfo::LittleEndian ? JCS_EXT_BGRA : JCS_EXT_ARGB;

// Qt's reader saved a frame's colour profile; a malformed one is reported in
// the log as Qt reported it.
constexpr int kIccMarker = JPEG_APP0 + 2;
constexpr int kIccHeader = 14; // "ICC_PROFILE\0", then the chunk's number and count

struct ErrorManager : jpeg_error_mgr
{
    std::jmp_buf abandon;
};

extern "C" {

// Each of the library's messages as one plain warning, as Qt's reader logs
// them. Of a frame's warnings the library passes on only the first.
void logMessage(j_common_ptr info)
{
    char text[JMSG_LENGTH_MAX];
    info->err->format_message(info, text);
    qWarning("%s", text);
}

[[noreturn]] void abandonFrame(j_common_ptr info)
{
    logMessage(info);
    std::longjmp(static_cast<ErrorManager *>(info->err)->abandon, 1);
}

void startReading(j_decompress_ptr) { }

// Past its last byte a frame goes on with an end-of-image marker, as often as
// the library asks, so that a frame cut short decodes as far as it goes. Qt's
// reader does the same without a warning, and so does this.
boolean readPastEnd(j_decompress_ptr info)
{
    static const JOCTET endOfImage[] = {0xFF, JPEG_EOI};
    info->src->next_input_byte = endOfImage;
    info->src->bytes_in_buffer = sizeof endOfImage;
    return TRUE;
}

void skipBytes(j_decompress_ptr info, long count)
{
    jpeg_source_mgr *source = info->src;
    if (count <= 0)
        return;
    while (count > long(source->bytes_in_buffer)) {
        count -= long(source->bytes_in_buffer);
        readPastEnd(info);
    }
    source->next_input_byte += count;
    source->bytes_in_buffer -= size_t(count);
}

void stopReading(j_decompress_ptr) { }

} // extern "C"

// CMYK as Adobe's programs store it, inverted; Qt's reader multiplies each
// channel by black.
void cmykToRgb32(const JSAMPLE *cmyk, QRgb *rgb, int count)
{
    for (int i = 0; i < count; ++i, cmyk += 4) {
        const int k = cmyk[3];
        rgb[i] = qRgb(k * cmyk[0] / 255, k * cmyk[1] / 255, k * cmyk[2] / 255);
    }
}

} // namespace

struct FrameDecoder::Library
{
    jpeg_decompress_struct info {};
    ErrorManager errors {};
    jpeg_source_mgr source {};
    // Each frame gets a decompressor of its own, as with Qt's reader: one kept
    // from the frame before would lend its Huffman and quantisation tables to
    // a frame that lacks them, where the library must supply the standard
    // ones (many cameras leave their Huffman tables out).
    bool created = false;
    // Rows decoded but not kept, and CMYK rows before their conversion.
    std::vector<JSAMPLE> spareRows;
    QByteArray iccProfile;

    Library()
    {
        info.err = jpeg_std_error(&errors);
        errors.error_exit = abandonFrame;
        errors.output_message = logMessage;
        source.init_source = startReading;
        source.fill_input_buffer = readPastEnd;
        source.skip_input_data = skipBytes;
        source.resync_to_restart = jpeg_resync_to_restart;
        source.term_source = stopReading;
    }
    ~Library() { finish(); }

    void finish()
    {
        if (created)
            jpeg_destroy_decompress(&info);
        created = false;
    }

    bool decode(const char *data, int length, QImage *picture, const QSize &shown);
    void collectIccProfile();
    void readRows(QImage *picture, int pictureRows, JDIMENSION lastRow, bool cmyk);
};

// No object with a destructor may live in this function's own scope: the
// library leaves it for the setjmp point when a frame fails.
bool FrameDecoder::Library::decode(const char *data, int length, QImage *picture,
                                   const QSize &shown)
{
    if (setjmp(errors.abandon)) {
        finish();
        return false;
    }
    finish();
    jpeg_create_decompress(&info);
    created = true;
    info.src = &source;
    jpeg_save_markers(&info, kIccMarker, 0xFFFF);
    source.next_input_byte = reinterpret_cast<const JOCTET *>(data);
    source.bytes_in_buffer = size_t(length);
    jpeg_read_header(&info, TRUE);
    collectIccProfile();

    const int width = int(info.image_width);
    const int height = int(info.image_height);
    if (!isAffordable(QSize(width, height), data, length)) {
        finish();
        return false;
    }
    // Qt's reader takes one, three or four channels as the library would give
    // them, and nothing else.
    jpeg_calc_output_dimensions(&info);
    const bool cmyk = info.out_color_space == JCS_CMYK;
    if (info.output_components != 1 && info.output_components != 3 && !cmyk) {
        finish();
        return false;
    }
    if (!cmyk)
        info.out_color_space = kRgb32Layout;

    const bool inPart = shown.isValid();
    const int columns = inPart ? qMin(width, shown.width() + kColumnsPastShown) : width;
    const int rows = inPart ? qMin(height, shown.height()) : height;
    const bool stopEarly = rows < height && mayStopEarly(data, length);
    if (picture->size() != QSize(columns, rows) || picture->format() != QImage::Format_RGB32
        || !picture->isDetached()) {
        *picture = QImage(columns, rows, QImage::Format_RGB32);
        if (picture->isNull()) {
            finish();
            return false;
        }
    }

    jpeg_start_decompress(&info);
    if (JDIMENSION(columns) < info.output_width) {
        JDIMENSION left = 0;
        JDIMENSION cropped = JDIMENSION(columns);
        jpeg_crop_scanline(&info, &left, &cropped);
    }
    readRows(picture, rows, stopEarly ? JDIMENSION(rows) : info.output_height, cmyk);
    if (info.output_scanline == info.output_height)
        jpeg_finish_decompress(&info);
    finish();
    return true;
}

// Reads rows 0 to lastRow - 1, those below the picture into spare rows. Rows
// go straight into the picture, CMYK ones by way of the spare rows.
void FrameDecoder::Library::readRows(QImage *picture, int pictureRows, JDIMENSION lastRow,
                                     bool cmyk)
{
    const size_t rowBytes = size_t(info.output_width) * size_t(info.output_components);
    const bool spareNeeded = cmyk || lastRow > JDIMENSION(pictureRows);
    if (spareNeeded && spareRows.size() < rowBytes * kRowsPerCall)
        spareRows.resize(rowBytes * kRowsPerCall);
    uchar *const bits = picture->bits();
    const qsizetype stride = picture->bytesPerLine();
    while (info.output_scanline < lastRow) {
        const JDIMENSION first = info.output_scanline;
        const int count = int(qMin<JDIMENSION>(kRowsPerCall, lastRow - first));
        JSAMPROW pointers[kRowsPerCall];
        for (int i = 0; i < count; ++i) {
            const JDIMENSION row = first + JDIMENSION(i);
            pointers[i] = !cmyk && row < JDIMENSION(pictureRows)
                ? bits + qsizetype(row) * stride
                : spareRows.data() + size_t(i) * rowBytes;
        }
        const JDIMENSION read = jpeg_read_scanlines(&info, pointers, JDIMENSION(count));
        if (read == 0)
            ERREXIT(&info, JERR_BAD_STATE); // cannot happen: the source never suspends
        for (JDIMENSION i = 0; cmyk && i < read && first + i < JDIMENSION(pictureRows); ++i)
            cmykToRgb32(pointers[i], reinterpret_cast<QRgb *>(bits + qsizetype(first + i) * stride),
                        picture->width());
    }
}

void FrameDecoder::Library::collectIccProfile()
{
    iccProfile.clear();
    for (jpeg_saved_marker_ptr marker = info.marker_list; marker; marker = marker->next) {
        if (marker->marker == kIccMarker && marker->data_length > 128 + 4 + kIccHeader
            && std::memcmp(marker->data, "ICC_PROFILE", 12) == 0)
            iccProfile.append(reinterpret_cast<const char *>(marker->data) + kIccHeader,
                              int(marker->data_length) - kIccHeader);
    }
}

FrameDecoder::FrameDecoder() : library(new Library) { }

FrameDecoder::~FrameDecoder() = default;

void FrameDecoder::decode(const char *data, int length, QImage *picture, const QSize &shown)
{
    if (length <= 0 || !library->decode(data, length, picture, shown)) {
        *picture = QImage();
        return;
    }
    // The picture is drawn as it was decoded; the profile is read only for
    // what a malformed one would make Qt log.
    if (!library->iccProfile.isEmpty()) {
        const QColorSpace profile = QColorSpace::fromIccProfile(library->iccProfile);
        Q_UNUSED(profile)
    }
}
