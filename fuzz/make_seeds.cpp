// Writes small real camera frames for the fuzzer's seed corpus: JPEGs encoded
// by Qt at several sizes and qualities, baseline, optimised and progressive,
// colour and grayscale, each wrapped in the stream markers behind the two
// control bytes the fuzz target reads first.
//
// usage: orvex-fuzz-seeds <output directory>

#include <QBuffer>
#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageWriter>
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

QByteArray encode(const QImage &image, int quality, bool optimized, bool progressive)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(quality);
    writer.setOptimizedWrite(optimized);
    writer.setProgressiveScanWrite(progressive);
    if (!writer.write(image))
        std::fprintf(stderr, "cannot encode: %s\n", qPrintable(writer.errorString()));
    return bytes;
}

// The same bytes with other dimensions in the frame header: a picture that
// declares far more pixels than its few hundred bytes hold.
QByteArray withDeclaredSize(QByteArray jpeg, int width, int height)
{
    const int sof = jpeg.indexOf("\xff\xc0");
    if (sof < 0 || sof + 9 > jpeg.size())
        return jpeg;
    char *b = jpeg.data();
    b[sof + 5] = char(height >> 8);
    b[sof + 6] = char(height & 0xff);
    b[sof + 7] = char(width >> 8);
    b[sof + 8] = char(width & 0xff);
    return jpeg;
}

QByteArray frame(const QByteArray &jpeg)
{
    return QByteArray("J_S=") + jpeg + QByteArray("J_E;");
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
        const QByteArray jpeg = encode(picture, v.quality, v.optimized, v.progressive);
        if (first.isEmpty())
            first = jpeg;
        else if (second.isEmpty())
            second = jpeg;
        ok = save(out, QString::fromLatin1(v.name), 0, 7, frame(jpeg)) && ok;
    }

    // Stream shapes around the frames: armed snapshots, several frames per
    // read, junk between them, a marker inside a body, a truncated frame.
    ok = save(out, "two-frames-armed", 0x01, 3, frame(first) + frame(second)) && ok;
    ok = save(out, "junk-between", 0x06, 11, "xxJ_E;J" + frame(first) + "JJ_S=" + frame(second))
        && ok;
    ok = save(out, "marker-in-body", 0x01, 0, frame(first.left(40) + "J_S=" + first.mid(40))) && ok;
    ok = save(out, "truncated", 0x02, 100, frame(first.left(first.size() / 2)) + frame(second))
        && ok;
    ok = save(out, "bomb-40000", 0x00, 5, frame(withDeclaredSize(first, 40000, 40000))) && ok;
    ok = save(out, "bomb-4097-wide", 0x01, 5, frame(withDeclaredSize(first, 4097, 8))) && ok;
    ok = save(out, "smallest-frame", 0x01, 1, "J_S=\xff\xd8\xff\xd9J_E;") && ok;
    return ok ? 0 : 1;
}
