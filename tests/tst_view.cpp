// SPDX-License-Identifier: MIT
#include "decodeguard.h"
#include "jpegframes.h"
#include "logcapture.h"
#include "orvex.h"
#include "widget.h"
#include "widgettestaccess.h"

#include <QBuffer>
#include <QImage>
#include <QPainter>
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
// pixels inside picture (placed at (10, 10)), background elsewhere. Returns
// the first mismatch, or an empty string.
QString mismatch(const QImage &grabbed, const QImage &picture, QRgb background)
{
    const QRect pictureRect(kPictureOrigin, picture.size());
    for (int y = 0; y < grabbed.height(); ++y) {
        for (int x = 0; x < grabbed.width(); ++x) {
            const QPoint p(x, y);
            if (inOverlayArea(p))
                continue;
            const QRgb expected
                = pictureRect.contains(p) ? picture.pixel(p - kPictureOrigin) : background;
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
    void decodingReusesPictureStorage();
    void textOfEarlierFramesIsDropped();
    void onlyTheShownPartIsDecoded_data();
    void onlyTheShownPartIsDecoded();

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

void TestView::decodingReusesPictureStorage()
{
    const QByteArray red = solidJpeg(QSize(320, 240), QColor(200, 30, 30));
    const QByteArray blue = solidJpeg(QSize(320, 240), QColor(30, 30, 200));
    QImage picture;
    decodeFrame(red.constData(), red.size(), &picture);
    // A picture shared with a copy is not written over.
    const QImage earlier = picture;
    decodeFrame(blue.constData(), blue.size(), &picture);
    QVERIFY(similar(earlier.pixel(5, 5), QColor(200, 30, 30)));
    QVERIFY(similar(picture.pixel(5, 5), QColor(30, 30, 200)));

    const uchar *storage = picture.constBits();
    decodeFrame(red.constData(), red.size(), &picture);
    QCOMPARE(picture.constBits(), storage);
    QVERIFY(similar(picture.pixel(5, 5), QColor(200, 30, 30)));

    const QByteArray small = solidJpeg(QSize(48, 32), QColor(30, 200, 30));
    decodeFrame(small.constData(), small.size(), &picture);
    QCOMPARE(picture.size(), QSize(48, 32));
    QVERIFY(similar(picture.pixel(5, 5), QColor(30, 200, 30)));

    decodeFrame("\xFF\xD8\xFF\xD9", 4, &picture);
    QVERIFY(picture.isNull());
}

// A camera may label every frame differently; a reused picture must not
// collect the labels.
void TestView::textOfEarlierFramesIsDropped()
{
    auto labelled = [](const QString &key) {
        QImage image(320, 240, QImage::Format_RGB32);
        image.fill(Qt::gray);
        if (!key.isEmpty())
            image.setText(key, QStringLiteral("value"));
        return jpeg(image);
    };
    QImage picture;
    const QByteArray first = labelled("First");
    decodeFrame(first.constData(), first.size(), &picture);
    QCOMPARE(picture.textKeys(), QStringList {"First"});
    const QByteArray second = labelled("Second");
    decodeFrame(second.constData(), second.size(), &picture);
    QCOMPARE(picture.textKeys(), QStringList {"Second"});
    const QByteArray plain = labelled(QString());
    decodeFrame(plain.constData(), plain.size(), &picture);
    QVERIFY(picture.textKeys().isEmpty());
}

void TestView::onlyTheShownPartIsDecoded_data()
{
    QTest::addColumn<QByteArray>("frame");
    // The size the view's picture gets: the shown part alone, the whole
    // frame, or none when a whole decode fails.
    QTest::addColumn<QSize>("decoded");

    const QSize shown(630, 470);
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
    const QByteArray large = jpeg(pattern(QSize(1600, 1200)));
    const QByteArray progressive = frame(QSize(1280, 720), c422, true);

    QTest::newRow("1600x1200 4:2:0") << large << shown;
    QTest::newRow("1280x720 4:2:2") << frame(QSize(1280, 720), c422) << shown;
    QTest::newRow("800x600 4:4:4") << frame(QSize(800, 600), c444) << shown;
    QTest::newRow("1280x720 progressive 4:2:2") << progressive << shown;
    QTest::newRow("800x600 progressive 4:4:4") << frame(QSize(800, 600), c444, true) << shown;
    QTest::newRow("800x600 grey") << frame(QSize(800, 600), JpegColours::Grey) << shown;
    QTest::newRow("800x600 progressive grey")
        << frame(QSize(800, 600), JpegColours::Grey, true) << shown;
    QTest::newRow("800x600 CMYK") << frame(QSize(800, 600), JpegColours::Cmyk) << shown;
    QTest::newRow("1280x720 4:2:2, restart markers")
        << frame(QSize(1280, 720), c422, false, 7) << shown;
    QTest::newRow("1001x777 4:2:0, odd size") << frame(QSize(1001, 777), c420) << shown;
    QTest::newRow("631x471 4:2:2, a pixel over") << frame(QSize(631, 471), c422) << shown;
    QTest::newRow("900x300, wider only") << frame(QSize(900, 300), c420) << QSize(630, 300);
    QTest::newRow("500x700, taller only") << frame(QSize(500, 700), c444) << QSize(500, 470);
    QTest::newRow("630x470, all shown") << frame(QSize(630, 470), c420) << shown;
    QTest::newRow("320x240, smaller than the view")
        << frame(QSize(320, 240), c422) << QSize(320, 240);
    // Cut off: the decoder makes up what is missing, the same way either way.
    QTest::newRow("cut off in the rows shown") << large.left(large.size() / 5) << shown;
    QTest::newRow("cut off below the rows shown") << large.left(large.size() * 4 / 5) << shown;
    QTest::newRow("progressive, cut off") << progressive.left(progressive.size() / 2) << shown;
    // A bad marker after the scan fails a whole decode, and only a whole
    // decode reaches it: no picture, as before.
    const QByteArray badMarker = large.left(large.size() - 2) + QByteArray("\xFF\x02\xFF\xD9", 4);
    QTest::newRow("bad marker after the scan") << badMarker << QSize(0, 0);
    // Damage in the rows shown: whatever a whole decode makes of it.
    QByteArray damaged = large;
    damaged.replace(damaged.size() / 8, 2, QByteArray("\xFF\xC4", 2));
    QTest::newRow("marker inside the coded data") << damaged << QSize(0, 0);
    QByteArray restartDamaged = frame(QSize(1280, 720), c422, false, 7);
    restartDamaged.replace(restartDamaged.size() / 8, 2, QByteArray("\xFF\xD3", 2));
    QTest::newRow("restart marker out of order") << restartDamaged << shown;
}

// A frame larger than the view is decoded only as far as the view shows it,
// with exactly the pixels a whole decode has there.
void TestView::onlyTheShownPartIsDecoded()
{
    QFETCH(QByteArray, frame);
    QFETCH(QSize, decoded);

    QImage whole;
    decodeFrame(frame.constData(), frame.size(), &whole);
    QCOMPARE(whole.isNull(), decoded.isEmpty());
    const QImage expected = whole.copy(QRect(QPoint(0, 0), decoded));
    QImage part;
    decodeFrame(frame.constData(), frame.size(), &part, QSize(630, 470));
    QCOMPARE(part.size(), decoded);
    QVERIFY(part == expected);

    view->showFrame(frame.constData(), frame.size());
    QTRY_VERIFY(counter.paints > 0);
    const QString error
        = mismatch(grabView(), expected.convertToFormat(QImage::Format_RGB32), background());
    QVERIFY2(error.isEmpty(), qPrintable(error));
}

QTEST_MAIN(TestView)

#include "tst_view.moc"
