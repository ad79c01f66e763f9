// SPDX-License-Identifier: MIT
// Measures what one paint of the view costs at a display scale: the whole
// repaint of orvex's view (picture, overlay, readout) as the program does it,
// and the picture alone drawn scaled fast (nearest pixel) and smooth
// (bilinear), which is the choice the view makes at fractional scales.
//
// usage: orvex-bench-paint [rounds [scales...]]   (default: 2000 1 1.25 1.5 2 2.5)
//        Each scale runs in a child process of its own, since Qt reads its
//        scale factor once, when the application object is created.
//        Build in Release; run on an idle machine.

#include "camerapicture.h"
#include "highdpi.h"
#include "jpegwriter.h"
#include "orvex.h"
#include "stats.h"
#include "widget.h"
#include "widgettestaccess.h"

#include <QApplication>
#include <QImage>
#include <QLoggingCategory>
#include <QPainter>
#include <QProcess>
#include <QtTest/QTest>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

// The picture alone, into a window-sized surface of the given scale.
double pictureMicros(int rounds, qreal scale, const QImage &picture, bool smooth)
{
    QImage surface(qRound(650 * scale), qRound(540 * scale), QImage::Format_RGB32);
    surface.setDevicePixelRatio(scale);
    return medianMicros(rounds, [&] {
        QPainter painter(&surface);
        painter.setRenderHint(QPainter::SmoothPixmapTransform, smooth);
        painter.drawImage(QPointF(10.0, 10.0), picture);
    });
}

int measure(int argc, char *argv[], int rounds)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qunsetenv("ORVEX_BENCH_PAINT_CHILD");
    enableHighDpiScaling();
    QApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("*=false"));

    Widget window;
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return 1;
    Orvex *view = WidgetTestAccess::view(window);
    const QImage picture = cameraLikePicture();
    const QByteArray frame = encodeJpeg(picture);
    view->showFrame(frame.constData(), frame.size());
    view->repaint(); // decodes the frame; the rounds below only paint

    const qreal scale = view->devicePixelRatioF();
    const double whole = medianMicros(rounds, [view] { view->repaint(); });
    std::printf("%5.2f %14.1f %14.1f %14.1f\n", scale, whole,
                pictureMicros(rounds, scale, picture, false),
                pictureMicros(rounds, scale, picture, true));
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 2000;
    if (qEnvironmentVariableIsSet("ORVEX_BENCH_PAINT_CHILD"))
        return measure(argc, argv, rounds);

    QStringList scales;
    for (int i = 2; i < argc; ++i)
        scales << QString::fromLocal8Bit(argv[i]);
    if (scales.isEmpty())
        scales = QStringList {"1", "1.25", "1.5", "2", "2.5"};

    std::printf("scale %14s %14s %14s\n", "view paint us", "picture fast", "picture smooth");
    std::fflush(stdout);
    for (const QString &scale : scales) {
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("ORVEX_BENCH_PAINT_CHILD", "1");
        environment.insert("QT_SCALE_FACTOR", scale);
        // The offscreen screen claims 100 dpi, which would scale by a further
        // 1.04: report 96, so that the scale is exactly the one asked for.
        environment.insert("QT_FONT_DPI", "96");
        child.setProcessEnvironment(environment);
        child.start(QString::fromLocal8Bit(argv[0]), {QString::number(rounds)});
        if (!child.waitForFinished(-1) || child.exitCode() != 0)
            return 1;
    }
    return 0;
}
