// SPDX-License-Identifier: MIT
#include "decodeguard.h"
#include "framedecoder.h"
#include "hostilejpeg.h"
#include "jpegframes.h"
#include "logcapture.h"
#include "orvex.h"
#include "widget.h"
#include "widgettestaccess.h"

#include <QBuffer>
#include <QColorSpace>
#include <QImage>
#include <QImageReader>
#include <QPainter>
#include <QScreen>
#include <QtTest>

#include <cstring>

namespace {

using namespace JpegFrames;

const QPoint kPictureOrigin(10, 10);

// Where this program's overlay may draw over the picture: the readout in the
// top-left corner and the crosshair with its circle. Pixels there are left to
// the overlay's own test.
const QRect kOverlayAreas[] = {QRect(14, 10, 80, 22), QRect(270, 190, 120, 120)};

bool inOverlayArea(const QPoint &p)
{
    for (const QRect &area : kOverlayAreas) {
        if (area.contains(p))
            return true;
    }
    return false;
}

// A picture in which every pixel differs from its neighbours, so a shift or
// a scaling by even one pixel shows.
QImage pattern(const QSize &size)
{
    QImage image(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < size.width(); ++x)
            image.setPixel(x, y, qRgb((x * 7) & 0xff, (y * 5) & 0xff, ((x + y) * 3) & 0xff));
    }
    return image;
}

QByteArray solidJpeg(const QSize &size, const QColor &colour)
{
    return jpeg(colour, size);
}

class PaintCounter : public QObject
{
public:
    int paints = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

// Compares the rendering of the view against what it should show: picture
// pixels inside picture (placed at (10, 10)), background elsewhere; or, with
// whole, the rendering against another one of the whole view. Returns the
// first mismatch, or an empty string.
QString mismatch(const QImage &grabbed, const QImage &picture, QRgb background, bool whole = false)
{
    const QRect pictureRect(whole ? QPoint(0, 0) : kPictureOrigin, picture.size());
    for (int y = 0; y < grabbed.height(); ++y) {
        for (int x = 0; x < grabbed.width(); ++x) {
            const QPoint p(x, y);
            if (inOverlayArea(p))
                continue;
            const QRgb expected
                = pictureRect.contains(p) ? picture.pixel(p - pictureRect.topLeft()) : background;
            const QRgb actual = grabbed.pixel(p);
            if ((actual & 0xffffff) != (expected & 0xffffff))
                return QString::asprintf("at (%d, %d): %06x, expected %06x", x, y,
                                         actual & 0xffffff, expected & 0xffffff);
        }
    }
    return QString();
}

} // namespace

class TestView : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void metaObject();
    void blackPictureAtStart();
    void backgroundIsNotBlack();
    void framesDrawnUnscaledAt10_data();
    void framesDrawnUnscaledAt10();
    void undecodableFramePaintsNoPicture();
    void goodFrameAfterUndecodableOne();
    void frameDataNotKeptAfterCall();
    void twoFramesBeforeEventLoopGiveOnePaint();
    void chunkShowsItsLastFrame_data();
    void chunkShowsItsLastFrame();
    void screenShowsEachFrameWhole();
    void decodingReusesPictureStorage();
    void decodesAsQtsReader_data();
    void decodesAsQtsReader();

private:
    QImage grabView() const { return view->grab().toImage(); }
    QRgb background() const { return window->palette().color(QPalette::Window).rgb(); }

    Widget *window = nullptr;
    Orvex *view = nullptr;
    PaintCounter counter;
};

void TestView::init()
{
    window = new Widget;
    view = WidgetTestAccess::view(*window);
    view->installEventFilter(&counter);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QTRY_VERIFY(counter.paints > 0);
    QCoreApplication::processEvents();
    counter.paints = 0;
}

void TestView::cleanup()
{
    delete window;
    window = nullptr;
    view = nullptr;
}

void TestView::metaObject()
{
    const QMetaObject &meta = Orvex::staticMetaObject;
    QCOMPARE(meta.className(), "Orvex");
    QCOMPARE(meta.superClass(), &QWidget::staticMetaObject);
    QCOMPARE(meta.methodCount(), meta.methodOffset());
    QCOMPARE(meta.propertyCount(), meta.propertyOffset());
}

void TestView::blackPictureAtStart()
{
    QImage black(640, 480, QImage::Format_RGB32);
    black.fill(Qt::black);
    const QImage grabbed = grabView();
    QCOMPARE(grabbed.size(), QSize(640, 480));
    const QString error = mismatch(grabbed, black, background());
    QVERIFY2(error.isEmpty(), qPrintable(error));
}

void TestView::backgroundIsNotBlack()
{
    QVERIFY(!similar(background(), Qt::black, 40));
    // The bands around the picture are the window's own, as it paints them.
    const QImage windowImage = window->grab().toImage();
    QCOMPARE(windowImage.pixel(5, 5), background());
    QCOMPARE(windowImage.pixel(645, 300), background());
    QCOMPARE(windowImage.pixel(300, 485), background());
}

void TestView::framesDrawnUnscaledAt10_data()
{
    QTest::addColumn<QSize>("size");
    QTest::newRow("320x240") << QSize(320, 240);
    QTest::newRow("640x480, clipped at the right and bottom") << QSize(640, 480);
    QTest::newRow("800x600, larger than the view") << QSize(800, 600);
    QTest::newRow("48x32") << QSize(48, 32);
}

void TestView::framesDrawnUnscaledAt10()
{
    QFETCH(QSize, size);
    const QByteArray bytes = jpeg(pattern(size));
    const QImage decoded = QImage::fromData(bytes);
    QCOMPARE(decoded.size(), size);

    view->showFrame(bytes.constData(), bytes.size());
    QTRY_VERIFY(counter.paints > 0);

    const QString error = mismatch(grabView(), decoded, background());
    QVERIFY2(error.isEmpty(), qPrintable(error));
}

void TestView::undecodableFramePaintsNoPicture()
{
    LogCapture log;
    log.forward = false;
    const QByteArray broken = QByteArray::fromHex("ffd8ffd9");
    view->showFrame(broken.constData(), broken.size());
    QTRY_VERIFY(counter.paints > 0);

    const QString error = mismatch(grabView(), QImage(), background());
    QVERIFY2(error.isEmpty(), qPrintable(error));
    // The JPEG library's complaint, as a plain warning: Qt prints no
    // category in front of it, under Qt 6 as under Qt 5.
    QCOMPARE(
        log.all(),
        QStringList(QString::number(QtWarningMsg) + " default: JPEG datastream contains no image"));
}

void TestView::goodFrameAfterUndecodableOne()
{
    const QByteArray broken = QByteArray::fromHex("ffd8ffe000104a464946");
    view->showFrame(broken.constData(), broken.size());
    const QByteArray good = jpeg(pattern(QSize(320, 240)));
    view->showFrame(good.constData(), good.size());
    QTRY_VERIFY(counter.paints > 0);

    const QString error = mismatch(grabView(), QImage::fromData(good), background());
    QVERIFY2(error.isEmpty(), qPrintable(error));
}

void TestView::frameDataNotKeptAfterCall()
{
    const QByteArray bytes = jpeg(pattern(QSize(320, 240)));
    const QImage decoded = QImage::fromData(bytes);
    QByteArray scratch = bytes;
    view->showFrame(scratch.constData(), scratch.size());
    std::memset(scratch.data(), 0, size_t(scratch.size()));
    QTRY_VERIFY(counter.paints > 0);

    const QString error = mismatch(grabView(), decoded, background());
    QVERIFY2(error.isEmpty(), qPrintable(error));
}

void TestView::twoFramesBeforeEventLoopGiveOnePaint()
{
    const QByteArray first = solidJpeg(QSize(640, 480), QColor(200, 30, 30));
    const QByteArray second = solidJpeg(QSize(640, 480), QColor(30, 30, 200));

    const qint64 decodesBefore = view->decodeCount();
    view->showFrame(first.constData(), first.size());
    view->showFrame(second.constData(), second.size());
    QCOMPARE(counter.paints, 0);

    QTRY_COMPARE(counter.paints, 1);
    QCoreApplication::processEvents();
    QCOMPARE(counter.paints, 1);
    QCOMPARE(view->decodeCount() - decodesBefore, 1);

    QVERIFY(similar(grabView().pixel(100, 400), QColor(30, 30, 200)));
}

// Several frames in one read from the camera: each is handed over in turn, and
// the one paint that follows decodes only the last.
void TestView::chunkShowsItsLastFrame_data()
{
    QTest::addColumn<QByteArrayList>("frames");
    // The colour the paint shows; invalid for no picture.
    QTest::addColumn<QColor>("shown");

    const QByteArray red = solidJpeg(QSize(640, 480), QColor(200, 30, 30));
    const QByteArray green = solidJpeg(QSize(640, 480), QColor(30, 200, 30));
    const QByteArray blue = solidJpeg(QSize(640, 480), QColor(30, 30, 200));
    const QByteArray undecodable = QByteArray::fromHex("ffd8ffe000104a464946");

    QTest::newRow("one good frame") << QByteArrayList {red} << QColor(200, 30, 30);
    QTest::newRow("three good frames") << QByteArrayList {red, green, blue} << QColor(30, 30, 200);
    QTest::newRow("good, then undecodable") << QByteArrayList {red, undecodable} << QColor();
    QTest::newRow("undecodable, then good")
        << QByteArrayList {undecodable, blue} << QColor(30, 30, 200);
    QTest::newRow("good, undecodable, good")
        << QByteArrayList {red, undecodable, green} << QColor(30, 200, 30);
}

void TestView::chunkShowsItsLastFrame()
{
    QFETCH(QByteArrayList, frames);
    QFETCH(QColor, shown);

    QByteArray chunk;
    for (const QByteArray &frame : frames)
        chunk += framed(frame);
    const qint64 decodesBefore = view->decodeCount();
    WidgetTestAccess::feed(*window, chunk);
    QTRY_VERIFY(counter.paints > 0);
    QCOMPARE(view->decodeCount() - decodesBefore, 1);

    // Painting again without a new frame decodes nothing.
    const QImage grabbed = grabView();
    QCOMPARE(view->decodeCount() - decodesBefore, 1);
    if (shown.isValid()) {
        QVERIFY(similar(grabbed.pixel(100, 400), shown));
    } else {
        const QString error = mismatch(grabbed, QImage(), background());
        QVERIFY2(error.isEmpty(), qPrintable(error));
    }
}

// The view repaints only the part a new frame changes. What reaches the
// screen, frame after frame of other sizes, is what a whole repaint shows.
void TestView::screenShowsEachFrameWhole()
{
    const QByteArray frames[] = {
        jpeg(pattern(QSize(320, 240))), solidJpeg(QSize(640, 480), QColor(200, 30, 30)),
        jpeg(pattern(QSize(48, 32))),   QByteArray::fromHex("ffd8ffd9"),
        jpeg(pattern(QSize(800, 600))), jpeg(pattern(QSize(500, 100))),
        jpeg(pattern(QSize(100, 500))), QByteArray::fromHex("ffd8ffd9"),
        jpeg(pattern(QSize(320, 240))),
    };
    for (const QByteArray &frame : frames) {
        counter.paints = 0;
        view->showFrame(frame.constData(), frame.size());
        QTRY_VERIFY(counter.paints > 0);
        // A picture larger than the last one takes a second paint.
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        const QImage screen
            = view->screen()
                  ->grabWindow(window->winId(), view->x(), view->y(), view->width(), view->height())
                  .toImage();
        const QString error = mismatch(screen, grabView(), background(), true);
        QVERIFY2(error.isEmpty(),
                 qPrintable(QString("after frame %1: %2").arg(&frame - frames).arg(error)));
    }
}

void TestView::decodingReusesPictureStorage()
{
    const QByteArray red = solidJpeg(QSize(320, 240), QColor(200, 30, 30));
    const QByteArray blue = solidJpeg(QSize(320, 240), QColor(30, 30, 200));
    FrameDecoder decoder;
    QImage picture;
    decoder.decode(red.constData(), red.size(), &picture);
    // A picture shared with a copy is not written over.
    const QImage earlier = picture;
    decoder.decode(blue.constData(), blue.size(), &picture);
    QVERIFY(similar(earlier.pixel(5, 5), QColor(200, 30, 30)));
    QVERIFY(similar(picture.pixel(5, 5), QColor(30, 30, 200)));

    const uchar *storage = picture.constBits();
    decoder.decode(red.constData(), red.size(), &picture);
    QCOMPARE(picture.constBits(), storage);
    QVERIFY(similar(picture.pixel(5, 5), QColor(200, 30, 30)));

    const QByteArray small = solidJpeg(QSize(48, 32), QColor(30, 200, 30));
    decoder.decode(small.constData(), small.size(), &picture);
    QCOMPARE(picture.size(), QSize(48, 32));
    QVERIFY(similar(picture.pixel(5, 5), QColor(30, 200, 30)));

    decoder.decode("\xFF\xD8\xFF\xD9", 4, &picture);
    QVERIFY(picture.isNull());
}

namespace {

// What a decoder made of a frame, and the lines it logged meanwhile.
struct Decoded
{
    QImage picture;
    QStringList log;
};

// Qt's own JPEG reader, which the view's decoder must match pixel for pixel
// and line for line. Of a frame larger than shown it reads the part shown,
// stopping after its last row where that gives the pixels of a whole decode.
Decoded decodedByQt(const QByteArray &frame, const QSize &shown)
{
    LogCapture log;
    log.forward = false;
    QBuffer buffer;
    buffer.setData(frame);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    const QRect whole(QPoint(0, 0), reader.size());
    if (shown.isValid() && mayStopEarly(frame.constData(), frame.size()))
        reader.setClipRect(whole.intersected(QRect(QPoint(0, 0), shown)));
    QImage picture = reader.read();
    if (shown.isValid())
        picture = picture.copy(QRect(QPoint(0, 0), shown).intersected(picture.rect()));
    return {picture.isNull() ? picture : picture.convertToFormat(QImage::Format_RGB32), log.all()};
}

Decoded decodedByView(FrameDecoder &decoder, const QByteArray &frame, const QSize &shown)
{
    LogCapture log;
    log.forward = false;
    QImage picture;
    decoder.decode(frame.constData(), frame.size(), &picture, shown);
    return {picture, log.all()};
}

// The first difference between the top-left part of picture and expected,
// the fourth byte of each pixel included, or an empty string.
QString pixelMismatch(const QImage &picture, const QImage &expected)
{
    if (picture.format() != QImage::Format_RGB32)
        return QString("format %1").arg(picture.format());
    if (picture.width() < expected.width() || picture.height() < expected.height())
        return QString("%1x%2, smaller than %3x%4")
            .arg(picture.width())
            .arg(picture.height())
            .arg(expected.width())
            .arg(expected.height());
    for (int y = 0; y < expected.height(); ++y) {
        const auto *a = reinterpret_cast<const quint32 *>(picture.constScanLine(y));
        const auto *b = reinterpret_cast<const quint32 *>(expected.constScanLine(y));
        for (int x = 0; x < expected.width(); ++x) {
            if (a[x] != b[x])
                return QString::asprintf("at (%d, %d): %08x, expected %08x", x, y, a[x], b[x]);
        }
    }
    return QString();
}

} // namespace

// Every kind of frame, and every quirk of real cameras, comes out as Qt's
// reader makes it: the same pixels where the view shows them, the same log
// lines, the same failures.
void TestView::decodesAsQtsReader_data()
{
    QTest::addColumn<QByteArray>("frame");

    auto frame = [](const QSize &size, JpegColours colours, bool progressive = false,
                    int restartInterval = 0) {
        JpegOptions options {kQuality, progressive};
        options.colours = colours;
        options.restartInterval = restartInterval;
        return encodeJpeg(pattern(size), options);
    };
    const auto c420 = JpegColours::YCbCr420;
    const auto c422 = JpegColours::YCbCr422;
    const auto c444 = JpegColours::YCbCr444;
    const auto c411 = JpegColours::YCbCr411;
    const auto grey = JpegColours::Grey;
    const auto cmyk = JpegColours::Cmyk;
    const QByteArray vga = jpeg(pattern(QSize(640, 480)));
    const QByteArray large = jpeg(pattern(QSize(1600, 1200)));
    const QByteArray progressive = frame(QSize(1280, 720), c422, true);
    const QByteArray restarts = frame(QSize(1280, 720), c422, false, 7);

    QTest::newRow("640x480 4:2:0") << vga;
    QTest::newRow("320x240 4:2:2") << frame(QSize(320, 240), c422);
    QTest::newRow("48x32 4:4:4") << frame(QSize(48, 32), c444);
    QTest::newRow("17x9 4:2:0, smaller than a block row") << frame(QSize(17, 9), c420);
    QTest::newRow("1x1 grey") << frame(QSize(1, 1), grey);
    QTest::newRow("640x480 grey") << frame(QSize(640, 480), grey);
    QTest::newRow("640x480 progressive grey") << frame(QSize(640, 480), grey, true);
    QTest::newRow("640x480 CMYK") << frame(QSize(640, 480), cmyk);
    QTest::newRow("640x480 progressive 4:2:0") << frame(QSize(640, 480), c420, true);
    QTest::newRow("720x477 4:1:1") << frame(QSize(720, 477), c411);
    QTest::newRow("1600x1200 4:2:0") << large;
    QTest::newRow("1280x720 4:2:2") << frame(QSize(1280, 720), c422);
    QTest::newRow("800x600 4:4:4") << frame(QSize(800, 600), c444);
    QTest::newRow("1280x720 progressive 4:2:2") << progressive;
    QTest::newRow("800x600 progressive 4:4:4") << frame(QSize(800, 600), c444, true);
    QTest::newRow("800x600 grey") << frame(QSize(800, 600), grey);
    QTest::newRow("800x600 CMYK") << frame(QSize(800, 600), cmyk);
    QTest::newRow("1001x777 4:1:1") << frame(QSize(1001, 777), c411);
    QTest::newRow("1280x720 4:2:2, restart markers") << restarts;
    QTest::newRow("1001x777 4:2:0, odd size") << frame(QSize(1001, 777), c420);
    QTest::newRow("631x471 4:2:2, a pixel over") << frame(QSize(631, 471), c422);
    QTest::newRow("639x479 4:2:0, under the crop's margin") << frame(QSize(639, 479), c420);
    QTest::newRow("900x300, wider only") << frame(QSize(900, 300), c420);
    QTest::newRow("500x700, taller only") << frame(QSize(500, 700), c444);

    // What real cameras send.
    QTest::newRow("no Huffman tables") << withoutSegments(vga, 0xC4);
    QTest::newRow("no Huffman tables, larger than the view") << withoutSegments(large, 0xC4);
    QTest::newRow("fill bytes before markers") << withFillBytes(restarts, 3);
    QTest::newRow("no end marker") << vga.chopped(2);
    QTest::newRow("no end marker, progressive") << progressive.chopped(2);
    // Turned by a quarter; Qt's reader leaves the picture as it is coded.
    const QByteArray exif = QByteArray("Exif\0\0", 6)
        + QByteArray::fromHex("4d4d002a000000080001011200030000000100060000"
                              "00000000");
    QTest::newRow("EXIF orientation") << withSegment(vga, 0xE1, exif);
    const QByteArray iccHeader = QByteArray("ICC_PROFILE\0\x01\x01", 14);
    const QByteArray srgb = QColorSpace(QColorSpace::SRgb).iccProfile();
    QTest::newRow("ICC profile") << withSegment(vga, 0xE2, iccHeader + srgb);
    QTest::newRow("malformed ICC profile")
        << withSegment(vga, 0xE2, iccHeader + QByteArray(200, 'x'));
    QTest::newRow("comment") << withSegment(vga, 0xFE, "Camera: 7");

    // Cut off: the decoder makes up what is missing.
    QTest::newRow("cut off in the rows shown") << large.left(large.size() / 5);
    QTest::newRow("cut off below the rows shown") << large.left(large.size() * 4 / 5);
    QTest::newRow("progressive, cut off") << progressive.left(progressive.size() / 2);
    QTest::newRow("cut off in the header") << vga.left(100);
    // A bad marker after the scan fails a whole decode, and only a whole
    // decode reaches it.
    QTest::newRow("bad marker after the scan")
        << large.left(large.size() - 2) + QByteArray("\xFF\x02\xFF\xD9", 4);
    QByteArray damaged = large;
    damaged.replace(damaged.size() / 8, 2, QByteArray("\xFF\xC4", 2));
    QTest::newRow("marker inside the coded data") << damaged;
    QByteArray restartDamaged = restarts;
    restartDamaged.replace(restartDamaged.size() / 8, 2, QByteArray("\xFF\xD3", 2));
    QTest::newRow("restart marker out of order") << restartDamaged;
    QTest::newRow("no image") << QByteArray::fromHex("ffd8ffd9");
    QTest::newRow("two components") << withoutLastComponent(frame(QSize(64, 48), c444));
}

void TestView::decodesAsQtsReader()
{
    QFETCH(QByteArray, frame);
    const QSize shown(630, 470);

    // The decoder has decoded frames before, with tables of their own.
    FrameDecoder decoder;
    const QByteArray primer = encodeJpeg(pattern(QSize(64, 48)), {30, false, true});
    QImage scratch;
    decoder.decode(primer.constData(), primer.size(), &scratch);

    for (const QSize &part : {QSize(), shown}) {
        const Decoded qt = decodedByQt(frame, part);
        const Decoded ours = decodedByView(decoder, frame, part);
        QCOMPARE(ours.log, qt.log);
        QCOMPARE(ours.picture.isNull(), qt.picture.isNull());
        if (qt.picture.isNull())
            continue;
        QCOMPARE(ours.picture.height(), qt.picture.height());
        if (!part.isValid())
            QCOMPARE(ours.picture.width(), qt.picture.width());
        const QString error = pixelMismatch(ours.picture, qt.picture);
        QVERIFY2(error.isEmpty(), qPrintable(error));
    }

    const QImage expected = decodedByQt(frame, shown).picture;
    view->showFrame(frame.constData(), frame.size());
    QTRY_VERIFY(counter.paints > 0);
    const QString error = mismatch(grabView(), expected, background());
    QVERIFY2(error.isEmpty(), qPrintable(error));
}

QTEST_MAIN(TestView)

#include "tst_view.moc"
