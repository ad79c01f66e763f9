// SPDX-License-Identifier: MIT
// Writes small real camera frames for the fuzzer's seed corpus: JPEGs encoded
// by Qt at several sizes and qualities, baseline, optimised and progressive,
// colour and grayscale, each wrapped in the stream markers behind the two
// control bytes the fuzz target reads first.
//
// usage: orvex-fuzz-seeds <output directory>

#include "hostilejpeg.h"
#include "jpegwriter.h"
#include "wire.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>

#include <cstdio>

namespace {

// Not a flat picture: edges and a gradient give the encoder real AC work.
QImage testPicture(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb((x * 255) / width, (y * 255) / height, ((x ^ y) & 8) * 24));
    }
    QPainter painter(&image);
    painter.setPen(Qt::white);
    painter.drawEllipse(QRect(width / 4, height / 4, width / 2, height / 2));
    return image;
}

bool save(const QString &directory, const QString &name, char flags, char seed,
          const QByteArray &stream)
{
    QFile file(directory + QLatin1Char('/') + name);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QByteArray input;
    input.append(flags).append(seed).append(stream);
    return file.write(input) == input.size();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output directory>\n", argv[0]);
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(out);
    bool ok = true;

    struct Variant
    {
        const char *name;
        int width;
        int height;
        int quality;
        bool optimized;
        bool progressive;
        bool gray;
    };
    const Variant variants[] = {
        {"tiny-q50", 8, 8, 50, false, false, false},
        {"odd-q75", 33, 17, 75, false, false, false},
        {"small-q10", 64, 48, 10, false, false, false},
        {"small-q100", 64, 48, 100, false, false, false},
        {"small-opt", 64, 48, 60, true, false, false},
        {"small-prog", 64, 48, 60, false, true, false},
        {"small-gray", 64, 48, 60, false, false, true},
        {"small-gray-prog", 64, 48, 60, false, true, true},
        {"qvga-q30", 160, 120, 30, false, false, false},
        {"qvga-prog-q30", 160, 120, 30, true, true, false},
        {"wide-q40", 240, 16, 40, false, false, false},
        {"tall-prog", 16, 200, 40, false, true, false},
    };

    QByteArray first;
    QByteArray second;
    for (const Variant &v : variants) {
        QImage picture = testPicture(v.width, v.height);
        if (v.gray)
            picture = picture.convertToFormat(QImage::Format_Grayscale8);
        const QByteArray jpeg = encodeJpeg(picture, {v.quality, v.progressive, v.optimized});
        if (first.isEmpty())
            first = jpeg;
        else if (second.isEmpty())
            second = jpeg;
        ok = save(out, QString::fromLatin1(v.name), 0, 7, framed(jpeg)) && ok;
    }

    // Stream shapes around the frames: armed snapshots, several frames per
    // read, junk between them, a marker inside a body, a truncated frame.
    ok = save(out, "two-frames-armed", 0x01, 3, framed(first) + framed(second)) && ok;
    ok = save(out, "junk-between", 0x06, 11, "xxJ_E;J" + framed(first) + "JJ_S=" + framed(second))
        && ok;
    ok = save(out, "marker-in-body", 0x01, 0, framed(first.left(40) + "J_S=" + first.mid(40)))
        && ok;
    ok = save(out, "truncated", 0x02, 100, framed(first.left(first.size() / 2)) + framed(second))
        && ok;
    ok = save(out, "bomb-40000", 0x00, 5, framed(withDeclaredSize(first, 40000, 40000))) && ok;
    ok = save(out, "bomb-4097-wide", 0x01, 5, framed(withDeclaredSize(first, 4097, 8))) && ok;
    ok = save(out, "smallest-frame", 0x01, 1, framed("\xff\xd8\xff\xd9")) && ok;
    return ok ? 0 : 1;
}
