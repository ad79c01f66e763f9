// SPDX-License-Identifier: MIT
#include "picturesource.h"

#include "faults.h"
#include "framecode.h"
#include "jpegwriter.h"
#include "wire.h"

#include <QDir>
#include <QFile>
#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QTime>
#include <QtMath>

#include <cmath>

namespace {

// The ball crosses the picture and back in this many frames.
constexpr int kBallPeriodFrames = 100;
// A marker inside the compressed data would cut the frame short in a viewer;
// a changed pixel gives different bytes, so few tries are ever needed.
constexpr int kMarkerFreeTries = 16;
constexpr qint64 kMaxReplayBytes = qint64(1) << 30;

QImage makeBackground(const QSize &size)
{
    QImage image(size, QImage::Format_RGB32);
    QPainter p(&image);
    const QColor bars[]
        = {QColor(191, 191, 191), QColor(191, 191, 0), QColor(0, 191, 191), QColor(0, 191, 0),
           QColor(191, 0, 191),   QColor(191, 0, 0),   QColor(0, 0, 191)};
    const int n = int(sizeof bars / sizeof bars[0]);
    const int barsHeight = size.height() * 2 / 3;
    for (int i = 0; i < n; ++i) {
        const int x0 = size.width() * i / n;
        const int x1 = size.width() * (i + 1) / n;
        p.fillRect(x0, 0, x1 - x0, barsHeight, bars[i]);
    }
    QLinearGradient ramp(0, 0, size.width(), 0);
    ramp.setColorAt(0, Qt::black);
    ramp.setColorAt(1, Qt::white);
    p.fillRect(0, barsHeight, size.width(), size.height() - barsHeight, ramp);

    // A calm band behind the strip, so its cells stand out from the bars.
    p.fillRect(FrameCode::stripRect(size).adjusted(-4, -4, 4, 4), QColor(64, 64, 64));
    return image;
}

// Zero-padded, so the text does not shift as the number grows.
QString pad(quint64 number)
{
    return QString("%1").arg(number, 6, 10, QLatin1Char('0'));
}

} // namespace

TestPattern::TestPattern(const QSize &size, int quality)
    : size(size), quality(quality), background(makeBackground(size))
{
}

QImage TestPattern::render(quint64 number) const
{
    QImage image = background.copy();
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const int w = size.width();
    const int h = size.height();

    // Bounces left and right while bobbing up and down, so that any two
    // frames in a row differ where the eye looks first.
    const double phase = double(number % kBallPeriodFrames) / kBallPeriodFrames;
    const int radius = h / 12;
    const double x = radius + (w - 2 * radius) * (1 - std::abs(1 - 2 * phase));
    const double y = h * 0.38 + h * 0.12 * std::sin(phase * 4 * M_PI);
    p.setPen(QPen(Qt::black, 2));
    p.setBrush(QColor(255, 140, 0));
    p.drawEllipse(QPointF(x, y), radius, radius);

    QFont font("DejaVu Sans Mono");
    font.setStyleHint(QFont::Monospace);
    font.setBold(true);
    font.setPixelSize(qMax(10, h / 11));
    p.setFont(font);
    const QString text
        = QString("frame %1\n%2").arg(pad(number), QTime::currentTime().toString("hh:mm:ss.zzz"));
    const QRect box(w / 8, h * 2 / 3 + h / 24, w * 3 / 4, h / 4);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 170));
    p.drawRoundedRect(box, 6, 6);
    p.setPen(Qt::white);
    p.drawText(box, Qt::AlignCenter, text);

    p.setRenderHint(QPainter::Antialiasing, false);
    FrameCode::paint(p, size, quint32(number));
    return image;
}

QByteArray TestPattern::frame(quint64 number)
{
    QImage image = render(number);
    QByteArray jpeg;
    for (int attempt = 0; attempt < kMarkerFreeTries; ++attempt) {
        jpeg = encodeJpeg(image, {quality});
        if (!holdsMarker(jpeg))
            break;
        image.setPixel(attempt, size.height() - 1, qRgb(attempt * 16, 0, 0));
    }
    return jpeg;
}

ReplaySource::ReplaySource(const QString &dir, QString *error)
{
    const QDir folder(dir);
    const QStringList names = folder.entryList({"*.jpg"}, QDir::Files, QDir::Name);
    qint64 total = 0;
    for (const QString &name : names) {
        QFile file(folder.filePath(name));
        if (!file.open(QIODevice::ReadOnly)) {
            *error = QString("cannot read '%1': %2").arg(file.fileName(), file.errorString());
            return;
        }
        const QByteArray bytes = file.readAll();
        total += bytes.size();
        if (total > kMaxReplayBytes) {
            *error = QString("the .jpg files in '%1' take more than %2 MiB")
                         .arg(dir)
                         .arg(kMaxReplayBytes >> 20);
            return;
        }
        // Sent anyway: a viewer meets such files from real cameras too.
        if (!bytes.startsWith("\xFF\xD8\xFF"))
            qWarning("%s does not start like a JPEG file", qPrintable(file.fileName()));
        if (holdsMarker(bytes))
            qWarning("%s holds a marker; a viewer will cut the frame short there",
                     qPrintable(file.fileName()));
        pictures.append(bytes);
    }
    if (pictures.isEmpty())
        *error = QString("no .jpg files in '%1'").arg(dir);
}

QByteArray ReplaySource::frame(quint64 number)
{
    return pictures.at(int((number - 1) % quint64(pictures.size())));
}
