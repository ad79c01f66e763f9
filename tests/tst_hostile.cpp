// SPDX-License-Identifier: MIT
// What a hostile or broken camera can send: frames that declare huge
// pictures, frames whose decoding cost grows with their scan count, truncated
// frames and noise. Each must end like an undecodable frame (no picture) and
// leave the viewer showing the next good frame.

#include "hostileframes.h"
#include "orvex.h"
#include "widget.h"
#include "widgettestaccess.h"

#include <QImage>
#include <QTest>

using namespace HostileFrames;

namespace {

// The smallest frame that passes the stream's start check but decodes to
// nothing: the reference for "no picture".
const QByteArray kUndecodable("\xFF\xD8\xFF\xD9", 4);

QImage picture(QWidget *widget)
{
    return widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

QImage viewAfter(const QByteArray &frame)
{
    Orvex view(nullptr);
    view.showFrame(frame.constData(), frame.size());
    return picture(&view);
}

QImage noPicture()
{
    return viewAfter(kUndecodable);
}

int scanCount(const QByteArray &jpeg)
{
    return jpeg.count(QByteArray("\xFF\xDA", 2));
}

// The fewest bytes a 4096 x 4096 frame with these scans may have.
int bytesForScanWork(const QByteArray &jpeg)
{
    const qint64 work = qint64(scanCount(jpeg)) * 4096 * 4096;
    return int((work + 8191) / 8192);
}

// A point inside the picture area, away from the edges JPEG blurs.
const QPoint kInside(100, 100);

} // namespace

class TestHostile : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void frameIsDropped_data();
    void frameIsDropped();
    void frameIsShown_data();
    void frameIsShown();
    void dropLeavesNextGoodFrameShown();
    void hostileStreamKeepsGoodFramesComing_data();
    void hostileStreamKeepsGoodFramesComing();
};

void TestHostile::initTestCase()
{
    // The reference must differ from every picture the tests expect, or
    // "shown" and "dropped" could not be told apart.
    const QColor background = noPicture().pixelColor(kInside);
    QVERIFY(background != QColor(Qt::red));
    QVERIFY(background.red() > 200 || background.red() < 60);
}

void TestHostile::frameIsDropped_data()
{
    QTest::addColumn<QByteArray>("frame");

    const QByteArray baseline = solidJpeg(Qt::red, QSize(64, 48));
    const QByteArray progressive = solidJpeg(Qt::red, QSize(64, 48), kProgressive);
    QTest::newRow("40000 x 40000 in 600 bytes") << withDeclaredSize(baseline, 40000, 40000);
    QTest::newRow("largest the header holds") << withDeclaredSize(baseline, 65535, 65535);
    QTest::newRow("one pixel too wide") << withDeclaredSize(baseline, 4097, 8);
    QTest::newRow("one pixel too tall") << withDeclaredSize(baseline, 8, 4097);
    QTest::newRow("progressive bomb") << withDeclaredSize(progressive, 20000, 20000);
    QTest::newRow("5000 empty scans at 640 x 480")
        << withExtraScans(withDeclaredSize(progressive, 640, 480), 5000);
    QTest::newRow("2000 empty scans at 4096 x 4096")
        << withExtraScans(withDeclaredSize(progressive, 4096, 4096), 2000);
    // Within the size limit, but more pixels than the bytes can describe.
    QTest::newRow("4096 x 4096 in 600 bytes") << withDeclaredSize(baseline, 4096, 4096);
    QTest::newRow("progressive 4096 x 4096 in 700 bytes")
        << withDeclaredSize(progressive, 4096, 4096);
    QTest::newRow("just over 1024 pixels a byte")
        << withDeclaredSize(baseline, 4096, baseline.size() / 4 + 1);
    const QByteArray large = withDeclaredSize(progressive, 4096, 4096);
    QTest::newRow("scans just over 8192 pixels a byte")
        << withPadding(large, bytesForScanWork(large) - 1);
    QTest::newRow("33 scans of 4096 x 4096")
        << withPadding(withExtraScans(large, 33 - scanCount(large)), 80000);
    QTest::newRow("truncated in the header") << baseline.left(100);
    QTest::newRow("start bytes then noise") << noiseAfterStart(4000, 7);
    QTest::newRow("zero width") << withDeclaredSize(baseline, 0, 48);
}

// Each of these ends exactly like an undecodable frame: the view paints no
// picture, not the previous one and not a partial one.
void TestHostile::frameIsDropped()
{
    QFETCH(QByteArray, frame);
    QVERIFY(!frame.isEmpty());
    QCOMPARE(viewAfter(frame), noPicture());
}

void TestHostile::frameIsShown_data()
{
    QTest::addColumn<QByteArray>("frame");

    const QByteArray baseline = solidJpeg(Qt::red, QSize(64, 48));
    const QByteArray progressive = solidJpeg(Qt::red, QSize(64, 48), kProgressive);
    // The declared size decides; the missing pixel data is filled in by the
    // decoder, so these are pictures, just not red ones.
    QTest::newRow("4096 wide") << withDeclaredSize(baseline, 4096, 8);
    QTest::newRow("4096 tall") << withDeclaredSize(baseline, 8, 4096);
    QTest::newRow("1024 pixels a byte") << withDeclaredSize(baseline, 4096, baseline.size() / 4);
    const QByteArray large = withDeclaredSize(progressive, 4096, 4096);
    QTest::newRow("scans at 8192 pixels a byte") << withPadding(large, bytesForScanWork(large));
    QTest::newRow("32 scans of 4096 x 4096")
        << withPadding(withExtraScans(large, 32 - scanCount(large)), 80000);
    // The flattest real pictures: one colour, as large as allowed.
    QTest::newRow("real flat 4096 x 4096 baseline") << solidJpeg(Qt::red, QSize(4096, 4096));
    QTest::newRow("real flat 4096 x 4096 progressive")
        << solidJpeg(Qt::red, QSize(4096, 4096), kProgressive);
    QTest::newRow("40 spare scans in 20 KB at 640 x 480")
        << withPadding(withExtraScans(withDeclaredSize(progressive, 640, 480), 40), 20000);
    QTest::newRow("real 640 x 480 baseline") << solidJpeg(Qt::red, QSize(640, 480));
    QTest::newRow("real 640 x 480 progressive")
        << solidJpeg(Qt::red, QSize(640, 480), kProgressive);
}

// Large but affordable frames, and real ones, still go through the decoder.
void TestHostile::frameIsShown()
{
    QFETCH(QByteArray, frame);
    QVERIFY(!frame.isEmpty());
    QVERIFY(viewAfter(frame) != noPicture());
}

void TestHostile::dropLeavesNextGoodFrameShown()
{
    Orvex view(nullptr);
    const QByteArray red = solidJpeg(Qt::red, QSize(640, 480));
    const QByteArray bomb = withDeclaredSize(red, 40000, 40000);
    const QByteArray blue = solidJpeg(Qt::blue, QSize(640, 480));

    view.showFrame(red.constData(), red.size());
    QVERIFY(picture(&view).pixelColor(kInside).red() > 200);
    view.showFrame(bomb.constData(), bomb.size());
    QCOMPARE(picture(&view), noPicture());
    view.showFrame(blue.constData(), blue.size());
    QVERIFY(picture(&view).pixelColor(kInside).blue() > 200);
}

void TestHostile::hostileStreamKeepsGoodFramesComing_data()
{
    QTest::addColumn<QByteArray>("bad");
    QTest::addColumn<bool>("dropped");

    const QByteArray green = solidJpeg(Qt::green, QSize(640, 480));
    const QByteArray progressive = solidJpeg(Qt::red, QSize(64, 48), kProgressive);
    QTest::newRow("bomb") << withDeclaredSize(green, 40000, 40000) << true;
    QTest::newRow("1000 empty scans")
        << withExtraScans(withDeclaredSize(progressive, 4096, 4096), 1000) << true;
    QTest::newRow("noise after the start bytes") << noiseAfterStart(20000, 11) << true;
    // The decoder makes what it can of the rest; a partial picture is fine.
    QTest::newRow("cut off in the pixel data") << green.left(green.size() / 3) << false;
}

// The real stream path, with reads split inside markers: a hostile frame
// between good ones costs one frame's picture and nothing more.
void TestHostile::hostileStreamKeepsGoodFramesComing()
{
    QFETCH(QByteArray, bad);
    QFETCH(bool, dropped);

    // A view inside the window may paint a background of its own, so the
    // reference comes from the same kind of window.
    Widget reference;
    WidgetTestAccess::feed(reference, framed(kUndecodable));
    const QImage none = picture(WidgetTestAccess::view(reference));

    Widget widget;
    Orvex *view = WidgetTestAccess::view(widget);
    const QByteArray green = solidJpeg(Qt::green, QSize(640, 480));
    const QByteArray stream = framed(green) + "junk" + framed(bad);
    for (int at = 0; at < stream.size(); at += 7)
        WidgetTestAccess::feed(widget, stream.mid(at, 7));
    QCOMPARE(picture(view) == none, dropped);
    QCOMPARE(WidgetTestAccess::inFrame(widget), 0);

    WidgetTestAccess::feed(widget, framed(green));
    QVERIFY(picture(view).pixelColor(kInside).green() > 200);
}

QTEST_MAIN(TestHostile)
#include "tst_hostile.moc"
