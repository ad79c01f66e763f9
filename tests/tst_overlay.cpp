// SPDX-License-Identifier: MIT
#include "jpegframes.h"
#include "orvex.h"
#include "widget.h"
#include "widgettestaccess.h"

#include <QBuffer>
#include <QImage>
#include <QPainter>
#include <QtTest>

// Built once per program; ORVEX_OVERLAY says which overlay this one draws:
// 0 none, 1 crosshair and circle, 2 also the frame-rate text.
#ifndef ORVEX_OVERLAY
#error "ORVEX_OVERLAY must name the overlay of the program under test"
#endif

namespace {

using namespace JpegFrames;

constexpr bool kCrosshair = ORVEX_OVERLAY >= 1;
constexpr bool kReadout = ORVEX_OVERLAY >= 2;

// Blue keeps red and green unambiguous, also where they blend in.
const QColor kPictureColour(0, 0, 255);
const QPoint kCentre(329, 249);
const QRect kTextArea(15, 12, 46, 14);
const QRect kCrosshairArea(270, 190, 120, 120);

// What a pixel shows: a crosshair arm, the centre point, the circle's thin
// outline (within a pixel), or whatever lies under the overlay.
enum Kind { Red, Green, Ring, Under };

bool isRed(QRgb c)
{
    return qRed(c) > 200 && qGreen(c) < 60 && qBlue(c) < 60;
}

bool isGreen(QRgb c)
{
    return qGreen(c) > 200 && qRed(c) < 60 && qBlue(c) < 60;
}

bool isGreenTinted(QRgb c)
{
    return qGreen(c) > 100 && qGreen(c) > qRed(c) + 60;
}

QByteArray solidJpeg(const QSize &size, const QColor &colour)
{
    return jpeg(colour, size);
}

// A frame of the picture colour, or one that starts like a JPEG and holds none:
// the view then shows the window background under the overlay.
QByteArray frameWith(bool picture)
{
    return picture ? solidJpeg(QSize(640, 480), kPictureColour) : QByteArray::fromHex("ffd8ffd9");
}

// Whether any pixel within one pixel of p satisfies test: thin outlines may
// land a pixel either side of the ideal curve.
template<typename Test> bool nearby(const QImage &image, const QPoint &p, Test test)
{
    for (int dy = -1; dy <= 1; ++dy) {
        for (int dx = -1; dx <= 1; ++dx) {
            if (test(image.pixel(p + QPoint(dx, dy))))
                return true;
        }
    }
    return false;
}

int countIn(const QImage &image, const QRect &area, bool (*test)(QRgb))
{
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x)
            n += test(image.pixel(x, y)) ? 1 : 0;
    }
    return n;
}

} // namespace

class TestOverlay : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void crosshair_data();
    void crosshair();
    void circle_data();
    void circle();
    void readoutOnlyWithFrameRate_data();
    void readoutOnlyWithFrameRate();
    void readoutText();
    void nothingElseOverPicture();

private:
    QImage showAndGrab(const QByteArray &frame);

    Widget *window = nullptr;
    Orvex *view = nullptr;
};

void TestOverlay::init()
{
    window = new Widget;
    view = WidgetTestAccess::view(*window);
}

void TestOverlay::cleanup()
{
    delete window;
    window = nullptr;
    view = nullptr;
}

QImage TestOverlay::showAndGrab(const QByteArray &frame)
{
    view->showFrame(frame.constData(), frame.size());
    return view->grab().toImage();
}

void TestOverlay::crosshair_data()
{
    QTest::addColumn<bool>("picture");
    QTest::addColumn<QPoint>("point");
    QTest::addColumn<int>("kind");

    const int arm = kCrosshair ? Red : Under;
    const int centre = kCrosshair ? Green : Under;
    const int ring = kCrosshair ? Ring : Under;
    for (bool picture : {true, false}) {
        const char *over = picture ? "picture" : "no picture";
        // Every arm near its outer end, middle and inner end.
        for (int offset : {-19, -15, -11}) {
            QTest::addRow("%s, left arm %d", over, offset)
                << picture << kCentre + QPoint(offset, 0) << arm;
            QTest::addRow("%s, right arm %d", over, -offset)
                << picture << kCentre + QPoint(-offset, 0) << arm;
            QTest::addRow("%s, upper arm %d", over, offset)
                << picture << kCentre + QPoint(0, offset) << arm;
            QTest::addRow("%s, lower arm %d", over, -offset)
                << picture << kCentre + QPoint(0, -offset) << arm;
        }
        // The gap between the arms and the centre point is left clear.
        for (int offset : {3, 5, 7}) {
            QTest::addRow("%s, gap left %d", over, offset)
                << picture << kCentre - QPoint(offset, 0) << int(Under);
            QTest::addRow("%s, gap right %d", over, offset)
                << picture << kCentre + QPoint(offset, 0) << int(Under);
            QTest::addRow("%s, gap above %d", over, offset)
                << picture << kCentre - QPoint(0, offset) << int(Under);
            QTest::addRow("%s, gap below %d", over, offset)
                << picture << kCentre + QPoint(0, offset) << int(Under);
        }
        QTest::addRow("%s, centre", over) << picture << kCentre << centre;
        QTest::addRow("%s, circle top", over) << picture << kCentre - QPoint(0, 51) << ring;
        // Beyond the arms' outer ends.
        QTest::addRow("%s, past left arm", over)
            << picture << kCentre - QPoint(24, 0) << int(Under);
        QTest::addRow("%s, past lower arm", over)
            << picture << kCentre + QPoint(0, 24) << int(Under);
        QTest::addRow("%s, between arms", over)
            << picture << kCentre + QPoint(15, 15) << int(Under);
        QTest::addRow("%s, elsewhere", over) << picture << QPoint(500, 100) << int(Under);
    }
}

void TestOverlay::crosshair()
{
    QFETCH(bool, picture);
    QFETCH(QPoint, point);
    QFETCH(int, kind);

    const QImage image = showAndGrab(frameWith(picture));
    const QRgb c = image.pixel(point);
    const QString seen = QString::asprintf("%06x", c & 0xffffff);
    switch (kind) {
    case Red:
        QVERIFY2(isRed(c), qPrintable(seen));
        break;
    case Green:
        QVERIFY2(isGreen(c), qPrintable(seen));
        break;
    case Ring:
        QVERIFY2(nearby(image, point, isGreen), qPrintable(seen));
        break;
    default:
        if (picture)
            QVERIFY2(similar(c, kPictureColour), qPrintable(seen));
        else
            QCOMPARE(c, window->palette().color(QPalette::Window).rgb());
        break;
    }
}

void TestOverlay::circle_data()
{
    QTest::addColumn<double>("angle");
    for (int degrees = 0; degrees < 360; degrees += 30)
        QTest::addRow("%d degrees", degrees) << double(degrees);
}

void TestOverlay::circle()
{
    QFETCH(double, angle);
    const QImage image = showAndGrab(solidJpeg(QSize(640, 480), kPictureColour));

    const double radians = qDegreesToRadians(angle);
    auto at = [&](double radius) {
        return QPoint(qRound(kCentre.x() + radius * std::cos(radians)),
                      qRound(kCentre.y() + radius * std::sin(radians)));
    };
    QCOMPARE(nearby(image, at(51.0), isGreen), kCrosshair);
    // A few pixels in and out of the ring stays picture.
    QVERIFY(similar(image.pixel(at(46.0)), kPictureColour));
    QVERIFY(similar(image.pixel(at(56.0)), kPictureColour));
}

void TestOverlay::readoutOnlyWithFrameRate_data()
{
    QTest::addColumn<bool>("picture");
    QTest::newRow("over a picture") << true;
    QTest::newRow("no picture") << false;
}

void TestOverlay::readoutOnlyWithFrameRate()
{
    QFETCH(bool, picture);
    const QImage image = showAndGrab(frameWith(picture));
    const int tinted = countIn(image, kTextArea, isGreenTinted);
    if (kReadout)
        QVERIFY2(tinted >= 20, qPrintable(QString::number(tinted)));
    else
        QCOMPARE(tinted, 0);
}

// The readout reads "<n> FPS" in green at baseline (15, 25) in the view's
// font; n depends on how often this process has painted, so any small n will do.
void TestOverlay::readoutText()
{
    if (!kReadout)
        QSKIP("this program shows no frame rate");

    const QImage image = showAndGrab(solidJpeg(QSize(640, 480), kPictureColour));
    const QRect area(0, 0, 200, 40);
    const QImage shown = image.copy(area);
    const QRgb pictureColour = image.pixel(5 + 10, 35);

    for (int n = 0; n < 1000; ++n) {
        QImage expected(shown.size(), shown.format());
        expected.fill(pictureColour);
        // The font is sized in points: render at the screen's resolution.
        expected.setDotsPerMeterX(qRound(view->logicalDpiX() / 0.0254));
        expected.setDotsPerMeterY(qRound(view->logicalDpiY() / 0.0254));
        {
            QPainter painter(&expected);
            painter.setPen(QPen(QBrush(Qt::green, Qt::SolidPattern), 2.0));
            painter.setFont(view->font());
            painter.drawText(QPointF(15.0, 25.0), QString::asprintf("%d FPS", n));
        }
        // The view's bands at the top and left are not picture.
        bool same = true;
        for (int y = 10; y < area.height() && same; ++y) {
            for (int x = 10; x < area.width() && same; ++x)
                same = shown.pixel(x, y) == expected.pixel(x, y);
        }
        if (same)
            return;
    }
    QFAIL("the readout is not \"<n> FPS\" in green at (15, 25)");
}

void TestOverlay::nothingElseOverPicture()
{
    const QImage image = showAndGrab(solidJpeg(QSize(640, 480), kPictureColour));
    for (int y = 10; y < 480; ++y) {
        for (int x = 10; x < 640; ++x) {
            const QPoint p(x, y);
            if (kCrosshair && kCrosshairArea.contains(p))
                continue;
            if (kReadout && kTextArea.adjusted(-2, -2, 30, 4).contains(p))
                continue;
            if (!similar(image.pixel(p), kPictureColour))
                QFAIL(qPrintable(
                    QString::asprintf("at (%d, %d): %06x", x, y, image.pixel(p) & 0xffffff)));
        }
    }
}

QTEST_MAIN(TestOverlay)

#include "tst_overlay.moc"
