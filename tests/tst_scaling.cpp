// SPDX-License-Identifier: MIT
#include "highdpi.h"
#include "jpegframes.h"
#include "orvex.h"
#include "widget.h"
#include "widgettestaccess.h"

#include <QDir>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <cstdio>

// The window at a desktop's display scale. Qt works the scale out from the
// DPI the screen reports, which for the offscreen screen QT_FONT_DPI sets; it
// reads it once per process, so each DPI is rendered by a run of this program
// of its own, and judged here.

namespace {

using namespace JpegFrames;

const char kRenderOption[] = "--render-at-dpi";
const QColor kPictureColour(0, 0, 255);

// What one run at a DPI saw: its scale, the whole window showing a blue
// frame, and the view showing a frame of sharp grey stripes.
struct Rendering
{
    qreal scale = 0;
    QImage window;
    QImage stripes;
};

// Stripes 8 pixels wide, on JPEG's block grid: they decode as pure black and
// white, so any grey on screen comes from the scaling.
QByteArray stripesJpeg()
{
    QImage image(640, 480, QImage::Format_RGB32);
    for (int x = 0; x < image.width(); ++x) {
        const QRgb colour = (x / 8) % 2 ? qRgb(255, 255, 255) : qRgb(0, 0, 0);
        for (int y = 0; y < image.height(); ++y)
            image.setPixel(x, y, colour);
    }
    return jpeg(image);
}

int renderAt(const QByteArray &dpi, const QString &folder, int argc, char *argv[])
{
    qputenv("QT_FONT_DPI", dpi);
    enableHighDpiScaling();
    QApplication app(argc, argv);
    Widget window;
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return 1;
    Orvex *view = WidgetTestAccess::view(window);

    const QByteArray blue = jpeg(kPictureColour, QSize(640, 480));
    view->showFrame(blue.constData(), blue.size());
    // BMP: lossless, and built into every Qt, the Windows one without PNG too.
    const bool saved = window.grab().save(folder + "/window.bmp");
    const QByteArray stripes = stripesJpeg();
    view->showFrame(stripes.constData(), stripes.size());
    if (!saved || !view->grab().save(folder + "/stripes.bmp"))
        return 1;
    std::printf("%.6f\n", window.devicePixelRatioF());
    return 0;
}

QPoint scaled(qreal scale, int x, int y)
{
    return QPoint(qRound(x * scale), qRound(y * scale));
}

QRect scaled(qreal scale, const QRect &r)
{
    return QRect(scaled(scale, r.x(), r.y()), scaled(scale, r.right() + 1, r.bottom() + 1))
        .adjusted(0, 0, -1, -1);
}

// Room for the overlay, in unscaled view pixels: the readout and the crosshair
// with its circle.
const QRect kReadoutArea(12, 10, 70, 22);
const QRect kCrosshairArea(270, 190, 120, 120);

bool inOverlay(qreal scale, const QPoint &p)
{
    return scaled(scale, kReadoutArea).contains(p) || scaled(scale, kCrosshairArea).contains(p);
}

bool isGreen(QRgb c)
{
    return qGreen(c) > 200 && qRed(c) < 60 && qBlue(c) < 60;
}

bool isRed(QRgb c)
{
    return qRed(c) > 200 && qGreen(c) < 60 && qBlue(c) < 60;
}

// Whether test holds for a pixel within two of p: scaled thin lines may land
// a pixel or so either side of the exact product.
template<typename Test> bool near(const QImage &image, const QPoint &p, Test test)
{
    for (int dy = -2; dy <= 2; ++dy) {
        for (int dx = -2; dx <= 2; ++dx) {
            if (image.valid(p + QPoint(dx, dy)) && test(image.pixel(p + QPoint(dx, dy))))
                return true;
        }
    }
    return false;
}

} // namespace

class TestScaling : public QObject
{
    Q_OBJECT

public:
    explicit TestScaling(QString program) : program(std::move(program)) { }

private slots:
    void initTestCase();
    void scaleFollowsDpi_data() { dpis(); }
    void scaleFollowsDpi();
    void windowGrowsWithScale_data() { dpis(); }
    void windowGrowsWithScale();
    void pictureFillsScaledPlace_data() { dpis(); }
    void pictureFillsScaledPlace();
    void overlayAtScaledPlaces_data() { dpis(); }
    void overlayAtScaledPlaces();
    void smoothOnlyAtFractionalScales_data() { dpis(); }
    void smoothOnlyAtFractionalScales();

private:
    void dpis();
    const Rendering &rendering();

    const QString program;
    QTemporaryDir folder;
    QMap<int, Rendering> renderings;
};

void TestScaling::dpis()
{
    QTest::addColumn<int>("dpi");
    QTest::addColumn<qreal>("scale");
    QTest::newRow("100 %") << 96 << 1.0;
    QTest::newRow("125 %") << 120 << 1.25;
    QTest::newRow("150 %") << 144 << 1.5;
    QTest::newRow("200 %") << 192 << 2.0;
    QTest::newRow("250 %") << 240 << 2.5;
}

void TestScaling::initTestCase()
{
    QVERIFY(folder.isValid());
    for (int dpi : {96, 120, 144, 192, 240}) {
        const QString runFolder = folder.filePath(QString::number(dpi));
        QVERIFY(QDir().mkpath(runFolder));
        QProcess run;
        run.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        run.start(program, {kRenderOption, QString::number(dpi), runFolder});
        QVERIFY2(run.waitForFinished(30000), qPrintable(run.errorString()));
        QCOMPARE(run.exitCode(), 0);

        Rendering r;
        r.scale = run.readAllStandardOutput().trimmed().toDouble();
        QVERIFY(r.window.load(runFolder + "/window.bmp"));
        QVERIFY(r.stripes.load(runFolder + "/stripes.bmp"));
        renderings.insert(dpi, r);
    }
}

const Rendering &TestScaling::rendering()
{
    QFETCH(int, dpi);
    return renderings[dpi];
}

void TestScaling::scaleFollowsDpi()
{
    QFETCH(qreal, scale);
    // Passed through unrounded: 150 % must not turn into 200 %.
    QCOMPARE(rendering().scale, scale);
}

void TestScaling::windowGrowsWithScale()
{
    QFETCH(qreal, scale);
    const QSize size = rendering().window.size();
    QVERIFY2(qAbs(size.width() - 650 * scale) <= 1 && qAbs(size.height() - 540 * scale) <= 1,
             qPrintable(QString("%1x%2").arg(size.width()).arg(size.height())));
}

// The visible 630x470 of a 640x480 frame fills the view from (10, 10) on,
// scaled with the window, and no screen pixel of the view is left unpainted
// where picture and background meet.
void TestScaling::pictureFillsScaledPlace()
{
    QFETCH(qreal, scale);
    const QImage &window = rendering().window;
    const QRgb background = window.pixel(scaled(scale, 645, 5));
    const QRect viewArea = scaled(scale, QRect(0, 0, 640, 480));
    QRect picture;
    for (int y = viewArea.top(); y <= viewArea.bottom(); ++y) {
        for (int x = viewArea.left(); x <= viewArea.right(); ++x) {
            const QPoint p(x, y);
            const QRgb pixel = window.pixel(p);
            if (similar(pixel, kPictureColour))
                picture |= QRect(p, QSize(1, 1));
            else if (pixel != background && !inOverlay(scale, p))
                QFAIL(qPrintable(QString::asprintf("at (%d, %d): %08x, neither picture nor "
                                                   "background",
                                                   x, y, pixel)));
        }
    }
    const QRect expected = scaled(scale, QRect(10, 10, 630, 470));
    QVERIFY2(qAbs(picture.left() - expected.left()) <= 1
                 && qAbs(picture.top() - expected.top()) <= 1
                 && qAbs(picture.right() - expected.right()) <= 1
                 && qAbs(picture.bottom() - expected.bottom()) <= 1,
             qPrintable(QString("picture at %1,%2 %3x%4")
                            .arg(picture.x())
                            .arg(picture.y())
                            .arg(picture.width())
                            .arg(picture.height())));
}

void TestScaling::overlayAtScaledPlaces()
{
    QFETCH(qreal, scale);
    const QImage &window = rendering().window;
    QVERIFY(near(window, scaled(scale, 329, 249), isGreen));
    for (const QPoint &arm : {QPoint(314, 249), QPoint(344, 249), QPoint(329, 234)})
        QVERIFY(near(window, scaled(scale, arm.x(), arm.y()), isRed));
    QVERIFY(near(window, scaled(scale, 278, 249), isGreen)); // the circle's left edge
    QVERIFY(!near(window, scaled(scale, 286, 249), isGreen));

    // The readout's ink: from its origin at (15, 25) up, as wide as "0 FPS".
    QRect ink;
    for (int y = 0; y < qRound(scale * 40); ++y) {
        for (int x = 0; x < qRound(scale * 100); ++x) {
            if (qGreen(window.pixel(x, y)) > 128 && qRed(window.pixel(x, y)) < 100)
                ink |= QRect(x, y, 1, 1);
        }
    }
    QVERIFY(!ink.isEmpty());
    QVERIFY2(qAbs(ink.left() - 15 * scale) <= 2 * scale && qAbs(ink.bottom() - 25 * scale) <= 2,
             qPrintable(QString("readout ink from (%1, %2) to (%3, %4)")
                            .arg(ink.left())
                            .arg(ink.top())
                            .arg(ink.right())
                            .arg(ink.bottom())));
    QVERIFY(ink.width() > 25 * scale && ink.width() < 50 * scale);
}

// Nearest-pixel scaling keeps the stripes black and white; smoothing blends
// their edges into greys.
void TestScaling::smoothOnlyAtFractionalScales()
{
    QFETCH(qreal, scale);
    const QImage &stripes = rendering().stripes;
    int greys = 0;
    const QRect inside = scaled(scale, QRect(12, 12, 620, 460));
    for (int y = inside.top(); y <= inside.bottom(); y += 7) {
        for (int x = inside.left(); x <= inside.right(); ++x) {
            const int level = qGray(stripes.pixel(x, y));
            if (!inOverlay(scale, QPoint(x, y)) && level > 16 && level < 240)
                ++greys;
        }
    }
    const bool fractional = scale != std::floor(scale);
    QVERIFY2((greys > 0) == fractional, qPrintable(QString("%1 grey pixels").arg(greys)));
}

int main(int argc, char *argv[])
{
    if (argc == 4 && qstrcmp(argv[1], kRenderOption) == 0)
        return renderAt(argv[2], QString::fromLocal8Bit(argv[3]), 1, argv);

    QApplication app(argc, argv);
    TestScaling test(QCoreApplication::applicationFilePath());
    return QTest::qExec(&test, argc, argv);
}

#include "tst_scaling.moc"
