// SPDX-License-Identifier: MIT
// Measures what the view's frame checks cost: a camera-like 640x480 frame
// through the view's decode step (FrameDecoder, run by its paint) against a
// bare QImage::loadFromData of the same bytes, and how long the view spends on
// frames it refuses.
//
// usage: orvex-guard-cost [rounds [JPEG files...]]
//        (build in Release; run on an idle machine). Given files, it times
//        only those, through the view's decode step, with the peak resident
//        memory.

#include "camerapicture.h"
#include "decodeguard.h"
#include "framedecoder.h"
#include "hostilejpeg.h"
#include "jpegwriter.h"
#include "stats.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLoggingCategory>
#include <QPainter>

#include <algorithm>
#include <cstdio>
#include <vector>

#include <sys/resource.h>

namespace {

// The camera-like picture with a time stamp on it, as the simulator's has.
QImage stampedPicture()
{
    QImage image = cameraLikePicture();
    QPainter painter(&image);
    painter.setPen(Qt::white);
    painter.drawText(QRect(0, 0, 640, 480), Qt::AlignCenter, QStringLiteral("12:34:56.789"));
    return image;
}

long peakResidentKiB()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("*=false"));
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 500;

    FrameDecoder decoder;
    QImage decoded;
    QImage bare;
    auto viewFrame = [&decoder, &decoded](const QByteArray &f) {
        return [&decoder, &decoded, &f] { decoder.decode(f.constData(), f.size(), &decoded); };
    };
    // The checks alone, beside the header the decoder reads anyway, to show
    // their share apart from the decoding they precede.
    auto checksOnly = [](const QByteArray &f) {
        return [&f] {
            volatile bool affordable = isAffordable(QSize(640, 480), f.constData(), f.size());
            volatile bool early = mayStopEarly(f.constData(), f.size());
            Q_UNUSED(affordable);
            Q_UNUSED(early);
        };
    };
    auto bareFrame = [&bare](const QByteArray &f) {
        return [&bare, &f] {
            bare.loadFromData(reinterpret_cast<const uchar *>(f.constData()), f.size());
        };
    };

    // Frames from files only: each run then reports its own peak memory.
    if (argc > 2) {
        std::printf("%-34s %8s %14s %s\n", "file", "bytes", "view us", "peak resident");
        for (int i = 2; i < argc; ++i) {
            QFile file(QString::fromLocal8Bit(argv[i]));
            if (!file.open(QIODevice::ReadOnly)) {
                std::fprintf(stderr, "cannot read %s\n", argv[i]);
                return 1;
            }
            const QByteArray frame = file.readAll();
            const double micros = medianMicros(3, viewFrame(frame));
            std::printf("%-34s %8d %14.1f %ld MiB\n", qPrintable(QFileInfo(file).fileName()),
                        int(frame.size()), micros, peakResidentKiB() / 1024);
        }
        return 0;
    }

    const QImage picture = stampedPicture();
    const QByteArray baseline = encodeJpeg(picture);
    const QByteArray progressive = encodeJpeg(picture, {75, true});

    std::printf("%-34s %8s %14s %14s %10s %10s\n", "frame", "bytes", "view us", "loadFromData us",
                "added us", "checks us");
    for (const auto &[name, frame] : {std::pair {"640x480 baseline q75", baseline},
                                      std::pair {"640x480 progressive q75", progressive}}) {
        // Interleave the two so drifting clocks and caches hit both alike.
        double guarded = 0;
        double plain = 0;
        for (int pass = 0; pass < 4; ++pass) {
            guarded += medianMicros(rounds / 4 + 1, viewFrame(frame));
            plain += medianMicros(rounds / 4 + 1, bareFrame(frame));
        }
        std::printf("%-34s %8d %14.1f %14.1f %10.1f %10.1f\n", name, int(frame.size()), guarded / 4,
                    plain / 4, (guarded - plain) / 4, medianMicros(rounds, checksOnly(frame)));
    }

    // Refused frames: the view's time, and what decoding would have cost
    // (only where that is affordable to find out).
    const QByteArray small = solidJpeg(Qt::red, QSize(64, 48), {75, true});
    const QByteArray bomb = withDeclaredSize(baseline, 40000, 40000);
    const QByteArray flood640 = withExtraScans(withDeclaredSize(small, 640, 480), 20000);
    const QByteArray flood4096 = withExtraScans(withDeclaredSize(small, 4096, 4096), 1000);
    std::printf("\n%-34s %8s %14s %14s\n", "refused frame", "bytes", "view us", "loadFromData us");
    std::printf("%-34s %8d %14.1f %14s\n", "40000x40000 bomb", int(bomb.size()),
                medianMicros(rounds, viewFrame(bomb)), "(6.4 GB)");
    std::printf("%-34s %8d %14.1f %14.1f\n", "640x480, 20000 empty scans", int(flood640.size()),
                medianMicros(rounds, viewFrame(flood640)), medianMicros(3, bareFrame(flood640)));
    std::printf("%-34s %8d %14.1f %14.1f\n", "4096x4096, 1000 empty scans", int(flood4096.size()),
                medianMicros(rounds, viewFrame(flood4096)), medianMicros(3, bareFrame(flood4096)));

    return 0;
}
