// SPDX-License-Identifier: MIT
#include "frames.h"

#include "jpegwriter.h"
#include "wire.h"

#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QRadialGradient>
#include <QTcpSocket>

#include <algorithm>
#include <cstring>
#include <random>

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;
// Around what small camera modules produce by default.
constexpr int kCameraQuality = 75;
constexpr int kPhotoQuality = 90;
constexpr int kNoiseAmplitude = 28;

// SOI, then an APP15 segment with a 2-byte length covering itself, a tag and
// the number. Not a comment: Qt's reader turns a comment into the picture's
// text, and the view decodes a frame into a fresh picture after one that
// brought text, so a comment would take the reuse of the picture's storage
// out of every measurement. Qt skips APP15 unread.
const QByteArray kSequenceTag("\xFF\xEF\x00\x0A"
                              "SEQ#",
                              8);
constexpr int kTaggedHeader = 2 + 8 + 4;

QImage noisyScene(std::mt19937 &random, int index)
{
    QImage image(kWidth, kHeight, QImage::Format_RGB32);
    {
        QPainter painter(&image);
        QLinearGradient sky(0, 0, 0, kHeight);
        sky.setColorAt(0.0, QColor(70, 110, 170));
        sky.setColorAt(1.0, QColor(150, 140, 110));
        painter.fillRect(image.rect(), sky);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(60, 90, 50));
        painter.drawEllipse(QPointF(160 + 8 * index, 360), 220, 90);
        painter.setBrush(QColor(120, 60, 40));
        painter.drawRect(380, 180 + index % 7, 140, 200);
    }
    std::uniform_int_distribution<int> noise(-kNoiseAmplitude, kNoiseAmplitude);
    for (int y = 0; y < kHeight; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < kWidth; ++x) {
            const QRgb p = line[x];
            line[x] = qRgb(qBound(0, qRed(p) + noise(random), 255),
                           qBound(0, qGreen(p) + noise(random), 255),
                           qBound(0, qBlue(p) + noise(random), 255));
        }
    }
    return image;
}

// The same random brightness change, up to amplitude, on all three channels
// of each pixel.
void addSensorNoise(QImage &image, std::mt19937 &random, int amplitude)
{
    std::uniform_int_distribution<int> noise(-amplitude, amplitude);
    for (int y = 0; y < image.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const int n = noise(random);
            const QRgb p = line[x];
            line[x] = qRgb(qBound(0, qRed(p) + n, 255), qBound(0, qGreen(p) + n, 255),
                           qBound(0, qBlue(p) + n, 255));
        }
    }
}

QImage cameraScene(std::mt19937 &random, const QSize &size, int index)
{
    QImage image(size, QImage::Format_RGB32);
    const qreal unit = size.width() / 640.0;
    {
        QPainter painter(&image);
        QLinearGradient sky(0, 0, 0, size.height());
        sky.setColorAt(0.0, QColor(90, 130, 190));
        sky.setColorAt(1.0, QColor(160, 150, 120));
        painter.fillRect(image.rect(), sky);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(60, 100, 50));
        painter.drawEllipse(QPointF((160 + 8 * index) * unit, size.height() * 0.75), 220 * unit,
                            90 * unit);
        painter.setBrush(QColor(130, 70, 40));
        painter.drawRect(
            QRectF(380 * unit, size.height() * 0.375, 140 * unit, size.height() * 0.42));
    }
    addSensorNoise(image, random, 6);
    return image;
}

QImage photoScene(std::mt19937 &random, int index)
{
    const QSize size(720, 477);
    QImage image(size, QImage::Format_RGB32);
    std::uniform_int_distribution<int> channel(30, 230);
    std::uniform_real_distribution<qreal> unit(0.0, 1.0);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        QLinearGradient sky(0, 0, 0, size.height());
        sky.setColorAt(0.0, QColor(120, 150, 200));
        sky.setColorAt(1.0, QColor(90, 80, 60));
        painter.fillRect(image.rect(), sky);
        painter.setPen(Qt::NoPen);
        for (int i = 0; i < 160; ++i) {
            const QPointF centre(unit(random) * size.width() + index, unit(random) * size.height());
            const qreal radius = 4 + unit(random) * 60;
            QRadialGradient blob(centre, radius);
            blob.setColorAt(0.0, QColor(channel(random), channel(random), channel(random)));
            blob.setColorAt(1.0, QColor(channel(random), channel(random), channel(random), 0));
            painter.setBrush(blob);
            painter.drawEllipse(centre, radius, radius * (0.5 + unit(random)));
        }
        // Fine detail, as leaves, fabric or text give a photograph.
        painter.setPen(QPen(QColor(20, 20, 20, 120), 1));
        for (int i = 0; i < 400; ++i) {
            const QPointF from(unit(random) * size.width(), unit(random) * size.height());
            painter.drawLine(from, from + QPointF(unit(random) * 12 - 6, unit(random) * 12 - 6));
        }
    }
    addSensorNoise(image, random, 4);
    return image;
}

} // namespace

FrameSet makePhotoFrames(int count)
{
    std::mt19937 random(1977);
    FrameSet frames;
    for (int i = 0; i < count; ++i)
        frames.push_back(encodeJpeg(photoScene(random, i), {kPhotoQuality}));
    return frames;
}

FrameSet makeCameraFrames(const QSize &size, int count)
{
    std::mt19937 random(4242);
    JpegOptions options {kCameraQuality};
    options.colours = JpegColours::YCbCr422;
    FrameSet frames;
    for (int i = 0; i < count; ++i)
        frames.push_back(encodeJpeg(cameraScene(random, size, i), options));
    return frames;
}

FrameSet makeNoisyFrames(int count, bool progressive)
{
    std::mt19937 random(8080);
    FrameSet frames;
    for (int i = 0; i < count; ++i)
        frames.push_back(encodeJpeg(noisyScene(random, i), {kCameraQuality, progressive}));
    return frames;
}

QByteArray withSequence(const QByteArray &jpeg, std::uint32_t sequence)
{
    const QByteArray plain = withoutSequence(jpeg);
    QByteArray tagged;
    tagged.reserve(plain.size() + kSequenceTag.size() + 4);
    tagged.append(plain.constData(), 2);
    tagged.append(kSequenceTag);
    for (int shift = 24; shift >= 0; shift -= 8)
        tagged.append(char((sequence >> shift) & 0xFF));
    tagged.append(plain.constData() + 2, plain.size() - 2);
    return tagged;
}

bool readSequence(const char *frame, std::uint32_t *sequence)
{
    if (std::memcmp(frame + 2, kSequenceTag.constData(), size_t(kSequenceTag.size())) != 0)
        return false;
    const auto *n = reinterpret_cast<const unsigned char *>(frame + 2 + kSequenceTag.size());
    *sequence = std::uint32_t(n[0]) << 24 | std::uint32_t(n[1]) << 16 | std::uint32_t(n[2]) << 8
        | std::uint32_t(n[3]);
    return true;
}

QByteArray withoutSequence(const QByteArray &jpeg)
{
    std::uint32_t ignored;
    if (jpeg.size() < kTaggedHeader || !readSequence(jpeg.constData(), &ignored))
        return jpeg;
    return jpeg.left(2) + jpeg.mid(kTaggedHeader);
}

FrameSet captureFrames(quint16 port, int count)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(3000))
        return {};
    QByteArray stream;
    FrameSet frames;
    while (int(frames.size()) < count && socket.waitForReadyRead(3000)) {
        stream += socket.readAll();
        const SplitStream split = SplitStream::of(stream);
        for (const QByteArray &frame : split.frames) {
            if (startsLikeJpeg(frame))
                frames.push_back(withoutSequence(frame));
        }
        stream.remove(0, split.consumed);
    }
    socket.abort();
    frames.resize(std::min<size_t>(frames.size(), size_t(count)));
    return frames;
}

bool writeFrameDirectory(const FrameSet &frames, const QString &directory)
{
    if (!QDir().mkpath(directory))
        return false;
    for (size_t i = 0; i < frames.size(); ++i) {
        QFile file(QDir(directory).filePath(QString::asprintf("%04zu.jpg", i)));
        if (!file.open(QIODevice::WriteOnly) || file.write(frames[i]) != frames[i].size())
            return false;
    }
    return true;
}
