// SPDX-License-Identifier: MIT
#include "jpegframes.h"
#include "logcapture.h"
#include "loopbackcamera.h"
#include "orvex.h"
#include "widget.h"
#include "widgettestaccess.h"

#include <QRandomGenerator>
#include <QtTest>

#include <cstring>
#include <iterator>
#include <memory>

using namespace JpegFrames;

namespace {

constexpr int kLargestBody = kFrameBufferSize - 3;
// Inside the picture and clear of every overlay mark.
const QPoint kProbe(90, 70);

QByteArray hex(const char *digits)
{
    return QByteArray::fromHex(digits);
}

// A frame body that starts like a JPEG; tag makes bodies tell apart.
QByteArray body(const QByteArray &tag)
{
    return hex("FFD8FFE0") + tag;
}

// The marker recogniser written the plain way, one byte at a time, as the
// reference the real one must match whatever the chunking.
struct ReferenceRecogniser
{
    int markerState = 0;
    int inFrame = 0;
    QByteArray frame;
    QByteArray lastShown;
    int errors = 0;

    void store(char b)
    {
        if (inFrame)
            frame.append(b);
    }

    void feed(const QByteArray &bytes)
    {
        for (char b : bytes)
            step(b);
    }

    void step(char b)
    {
        switch (b) {
        case 'J':
            markerState = markerState == 0 ? 1 : 0;
            store(b);
            return;
        case '_':
            markerState = markerState == 1 ? 2 : 0;
            store(b);
            return;
        case 'S':
        case 'E':
            markerState = markerState == 2 ? 3 : 0;
            store(b);
            return;
        case '=':
            if (markerState == 3)
                inFrame = 1;
            else
                store(b);
            markerState = 0;
            return;
        case ';':
            if (markerState == 3) {
                if (inFrame) {
                    frame.chop(3);
                    if (frame.startsWith(hex("FFD8FF")))
                        lastShown = frame;
                    else
                        ++errors;
                }
                frame.clear();
                inFrame = 0;
            } else {
                store(b);
            }
            markerState = 0;
            return;
        default:
            markerState = 0;
            store(b);
        }
    }
};

} // namespace

class TestStream : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void framing_data();
    void framing();
    void everySplitPosition_data();
    void everySplitPosition();
    void everyPairOfSplitPositions();
    void matchesByteByByteTable();
    void shortestGoodFrame();
    void framesOfOneChunkEachHandedOver();
    void oversizeFrame_data();
    void oversizeFrame();
    void liveFramesAreShown();
    void backlogReadBeforeAPaint();
    void frameCutByDisconnect_data();
    void frameCutByDisconnect();

private:
    void feed(const QByteArray &bytes) { WidgetTestAccess::feed(*widget, bytes); }
    const char *display() const { return WidgetTestAccess::displayBuffer(*widget); }
    bool displayStartsWith(const QByteArray &bytes) const
    {
        return std::memcmp(display(), bytes.constData(), size_t(bytes.size())) == 0;
    }
    // Shows a long frame first, so that the bytes behind a shorter frame
    // tell exactly how many bytes that frame handed over.
    void primeDisplay() { feed(framed(sentinel())); }
    static QByteArray sentinel() { return hex("FFD8FF01") + QByteArray(60, '#'); }
    bool displayHolds(const QByteArray &frame) const
    {
        return displayStartsWith(frame + sentinel().mid(frame.size()));
    }
    QColor shownColour() const { return colourAt(WidgetTestAccess::view(*widget), kProbe); }
    void verifyIdle();

    std::unique_ptr<Widget> widget;
    std::unique_ptr<LogCapture> log;
};

void TestStream::init()
{
    log.reset();
    widget.reset();
    widget = std::make_unique<Widget>();
    log = std::make_unique<LogCapture>();
}

void TestStream::cleanup()
{
    widget.reset();
    log.reset();
}

// After an end marker all of the assembly state is back at its start.
void TestStream::verifyIdle()
{
    QCOMPARE(WidgetTestAccess::markerState(*widget), 0);
    QCOMPARE(WidgetTestAccess::inFrame(*widget), 0);
    QCOMPARE(WidgetTestAccess::frameLength(*widget), 0);
    const QByteArray zeros(kFrameBufferSize, '\0');
    QVERIFY(std::memcmp(WidgetTestAccess::frameBuffer(*widget), zeros.constData(),
                        size_t(kFrameBufferSize))
            == 0);
}

void TestStream::framing_data()
{
    QTest::addColumn<QByteArrayList>("chunks");
    // The frame the view got last, or empty when nothing may reach it.
    QTest::addColumn<QByteArray>("shown");
    QTest::addColumn<int>("jpegErrors");
    QTest::addColumn<int>("markerState");
    QTest::addColumn<int>("inFrame");
    QTest::addColumn<int>("frameLength");

    const QByteArray s = kStartMarker;
    const QByteArray e = kEndMarker;
    const QByteArray f = body("frame");
    const QByteArray g = body("other");

    QTest::newRow("one frame") << QByteArrayList {s + f + e} << f << 0 << 0 << 0 << 0;
    QTest::newRow("junk before the first frame")
        << QByteArrayList {"no=ise;_S" + s + f + e} << f << 0 << 0 << 0 << 0;
    QTest::newRow("junk between frames")
        << QByteArrayList {s + g + e + "tra;sh J_ =E" + s + f + e} << f << 0 << 0 << 0 << 0;
    QTest::newRow("end marker outside a frame")
        << QByteArrayList {e + s + f + e} << f << 0 << 0 << 0 << 0;
    QTest::newRow("empty frame") << QByteArrayList {s + e} << QByteArray() << 1 << 0 << 0 << 0;
    QTest::newRow("J_S; outside a frame")
        << QByteArrayList {"J_S;"} << QByteArray() << 0 << 0 << 0 << 0;
    QTest::newRow("J_S; outside a frame, split")
        << QByteArrayList {"J_S", ";="} << QByteArray() << 0 << 0 << 0 << 0;
    QTest::newRow("J_S; then a frame")
        << QByteArrayList {"J_S;" + s + f + e} << f << 0 << 0 << 0 << 0;
    QTest::newRow("J_E; inside a body ends the frame")
        << QByteArrayList {s + f + "J_E;rest" + e} << f << 0 << 0 << 0 << 0;
    QTest::newRow("J_S; inside a body ends the frame")
        << QByteArrayList {s + f + "J_S;rest" + e} << f << 0 << 0 << 0 << 0;
    QTest::newRow("J_S= inside a body keeps J_S")
        << QByteArrayList {s + f + s + g + e} << f + "J_S" + g << 0 << 0 << 0 << 0;
    QTest::newRow("J_S= inside a body, split")
        << QByteArrayList {s + f + "J_", "S=" + g + e} << f + "J_S" + g << 0 << 0 << 0 << 0;
    QTest::newRow("J_E= starts a frame")
        << QByteArrayList {"J_E=" + f + e} << f << 0 << 0 << 0 << 0;
    QTest::newRow("JJ_S= misses the start")
        << QByteArrayList {"J" + s + f + e} << QByteArray() << 0 << 0 << 0 << 0;
    QTest::newRow("J_J_S= misses the start")
        << QByteArrayList {"J_J_S=" + f + e} << QByteArray() << 0 << 0 << 0 << 0;
    QTest::newRow("J_SJ_S= misses the start")
        << QByteArrayList {"J_SJ_S=" + f + e} << QByteArray() << 0 << 0 << 0 << 0;
    QTest::newRow("JJ_E; does not end a frame")
        << QByteArrayList {s + f + "JJ_E;"} << QByteArray() << 0 << 0 << 1 << f.size() + 5;
    QTest::newRow("J_EJ_E; does not end a frame")
        << QByteArrayList {s + f + "J_EJ_E;"} << QByteArray() << 0 << 0 << 1 << f.size() + 7;
    QTest::newRow("marker bytes inside a body are kept")
        << QByteArrayList {s + hex("FFD8FF") + "J_x_JSE=;_" + e} << hex("FFD8FF") + "J_x_JSE=;_"
        << 0 << 0 << 0 << 0;
    QTest::newRow("three-byte body")
        << QByteArrayList {s + hex("FFD8FF") + e} << hex("FFD8FF") << 0 << 0 << 0 << 0;
    QTest::newRow("two-byte body")
        << QByteArrayList {s + hex("FFD8") + e} << QByteArray() << 1 << 0 << 0 << 0;
    QTest::newRow("one-byte body")
        << QByteArrayList {s + hex("FF") + e} << QByteArray() << 1 << 0 << 0 << 0;
    QTest::newRow("not a JPEG") << QByteArrayList {s + "GIF89a" + e} << QByteArray() << 1 << 0 << 0
                                << 0;
    QTest::newRow("third byte wrong")
        << QByteArrayList {s + hex("FFD800E0") + e} << QByteArray() << 1 << 0 << 0 << 0;
    QTest::newRow("bad frame then good frame")
        << QByteArrayList {s + "bad" + e + s + f + e} << f << 1 << 0 << 0 << 0;
    QTest::newRow("good frame then bad frame")
        << QByteArrayList {s + f + e + s + "bad" + e} << f << 1 << 0 << 0 << 0;
    QTest::newRow("unfinished frame")
        << QByteArrayList {s + f} << QByteArray() << 0 << 0 << 1 << f.size();
    QTest::newRow("unfinished end marker")
        << QByteArrayList {s + f + "J_"} << QByteArray() << 0 << 2 << 1 << f.size() + 2;
    QTest::newRow("unfinished start marker")
        << QByteArrayList {"xJ_S"} << QByteArray() << 0 << 3 << 0 << 0;
}

void TestStream::framing()
{
    QFETCH(QByteArrayList, chunks);
    QFETCH(QByteArray, shown);
    QFETCH(int, jpegErrors);
    QFETCH(int, markerState);
    QFETCH(int, inFrame);
    QFETCH(int, frameLength);

    const QByteArray whole = chunks.join();
    QByteArrayList byteByByte;
    for (char b : whole)
        byteByByte << QByteArray(1, b);

    // The same bytes as given, in one chunk, and one byte per chunk.
    for (const QByteArrayList &feeding : {chunks, QByteArrayList {whole}, byteByByte}) {
        init();
        primeDisplay();
        log->clear();

        for (const QByteArray &chunk : feeding)
            feed(chunk);

        QVERIFY(displayHolds(shown.isEmpty() ? sentinel() : shown));
        QCOMPARE(log->count("Jpeg error"), jpegErrors);
        QCOMPARE(log->debugLines().size(), jpegErrors);
        QCOMPARE(WidgetTestAccess::markerState(*widget), markerState);
        QCOMPARE(WidgetTestAccess::inFrame(*widget), inFrame);
        QCOMPARE(WidgetTestAccess::frameLength(*widget), frameLength);
        if (inFrame) {
            const QByteArray stored = whole.mid(whole.indexOf(kStartMarker) + 4, frameLength);
            QCOMPARE(QByteArray(WidgetTestAccess::frameBuffer(*widget), frameLength), stored);
        }
    }
}

void TestStream::everySplitPosition_data()
{
    QTest::addColumn<int>("position");

    const QByteArray stream = "ab" + framed(body("J_x")) + "cd";
    for (int i = 0; i <= stream.size(); ++i) {
        const QByteArray name = stream.left(i).right(4).toHex() + "|" + stream.mid(i, 4).toHex();
        QTest::newRow(name.constData()) << i;
    }
}

void TestStream::everySplitPosition()
{
    QFETCH(int, position);

    const QByteArray frame = body("J_x");
    const QByteArray stream = "ab" + framed(frame) + "cd";
    primeDisplay();
    feed(stream.left(position));
    feed(stream.mid(position));

    QVERIFY(displayHolds(frame));
    QVERIFY(log->debugLines().isEmpty());
    verifyIdle();
}

void TestStream::everyPairOfSplitPositions()
{
    const QByteArray tail = "J_x";
    for (int first = 0; first <= 20; ++first) {
        for (int second = first; second <= 20; ++second) {
            // A tag per frame shows that this very frame reached the view.
            const QByteArray frame
                = body(QByteArray::number(first * 100 + second).rightJustified(6, '0') + tail);
            const QByteArray stream = "z" + framed(frame);
            QVERIFY(stream.size() > 20);
            primeDisplay();
            feed(stream.left(first));
            feed(stream.mid(first, second - first));
            feed(stream.mid(second));
            QVERIFY2(displayHolds(frame),
                     qPrintable(QStringLiteral("%1 %2").arg(first).arg(second)));
            QCOMPARE(WidgetTestAccess::frameLength(*widget), 0);
        }
    }
    QVERIFY(log->debugLines().isEmpty());
}

void TestStream::matchesByteByByteTable()
{
    // Streams dense in marker bytes, cut at random places, against the
    // plain one-byte-at-a-time reading of the recogniser table.
    static const char alphabet[] = {'J', '_', 'S', 'E', '=', ';', '\xFF', '\xD8', 'x', '\0'};
    static const QByteArray pieces[] = {"J_S=", "J_E;", "J_S;", "J_E=", "\xFF\xD8\xFF", "JJ_"};
    QRandomGenerator random(20240601);

    for (int round = 0; round < 60; ++round) {
        QByteArray stream;
        while (stream.size() < 3000) {
            if (random.bounded(4) == 0)
                stream += pieces[random.bounded(int(std::size(pieces)))];
            else
                stream += alphabet[random.bounded(int(sizeof alphabet))];
        }

        init();
        // Thousands of "Jpeg error" lines would only flood the test output.
        log->forward = false;
        ReferenceRecogniser reference;
        int at = 0;
        while (at < stream.size()) {
            const int length = 1 + random.bounded(round % 3 == 0 ? 3 : 200);
            const QByteArray chunk = stream.mid(at, length);
            at += chunk.size();
            feed(chunk);
            reference.feed(chunk);

            QCOMPARE(WidgetTestAccess::markerState(*widget), reference.markerState);
            QCOMPARE(WidgetTestAccess::inFrame(*widget), reference.inFrame);
            QCOMPARE(WidgetTestAccess::frameLength(*widget), qint32(reference.frame.size()));
            QCOMPARE(QByteArray(WidgetTestAccess::frameBuffer(*widget), reference.frame.size()),
                     reference.frame);
            QCOMPARE(log->count("Jpeg error"), reference.errors);
            if (!reference.lastShown.isEmpty())
                QVERIFY(displayStartsWith(reference.lastShown));
        }
    }
}

void TestStream::shortestGoodFrame()
{
    primeDisplay();
    feed("J_S=" + hex("FFD8FFD9") + "J_E");
    // The end marker's first three bytes are stored until the ';' comes.
    QCOMPARE(WidgetTestAccess::frameLength(*widget), 7);
    QCOMPARE(WidgetTestAccess::markerState(*widget), 3);

    feed(";");

    QVERIFY(displayHolds(hex("FFD8FFD9")));
    QVERIFY(log->debugLines().isEmpty());
    verifyIdle();
}

void TestStream::framesOfOneChunkEachHandedOver()
{
    const QByteArray longer = body(QByteArray(40, 'a'));
    const QByteArray shorter = body("b");
    feed(framed(longer) + framed(shorter));

    // The second copy only covers its own length: the first frame's tail
    // behind it shows that the first was handed over too, and first.
    QVERIFY(displayStartsWith(shorter + longer.mid(shorter.size())));
    verifyIdle();

    widget->show();
    QVERIFY(QTest::qWaitForWindowExposed(widget.get()));
    const QByteArray red = jpeg(Qt::red);
    const QByteArray blue = jpeg(Qt::blue);
    feed(framed(red) + "between" + framed(blue));
    QTRY_VERIFY(similar(shownColour(), Qt::blue));
    QVERIFY(log->debugLines().isEmpty());
}

void TestStream::oversizeFrame_data()
{
    QTest::addColumn<int>("bodyLength");
    QTest::addColumn<int>("chunkSize");
    QTest::addColumn<bool>("accepted");

    const int stream = 4 + kLargestBody + 4;
    QTest::newRow("largest, one chunk") << kLargestBody << stream << true;
    QTest::newRow("largest, 4 KiB chunks") << kLargestBody << 4096 << true;
    QTest::newRow("largest, cut after J_ of the end") << kLargestBody << stream - 2 << true;
    QTest::newRow("one over, one chunk") << kLargestBody + 1 << stream + 1 << false;
    QTest::newRow("one over, 4 KiB chunks") << kLargestBody + 1 << 4096 << false;
    QTest::newRow("one over, byte by byte") << kLargestBody + 1 << 1 << false;
    QTest::newRow("one over, cut after J_ of the end") << kLargestBody + 1 << stream - 1 << false;
    QTest::newRow("body fills the buffer") << kFrameBufferSize << 65536 << false;
    QTest::newRow("three buffers long") << 3 * kFrameBufferSize << 100000 << false;
}

void TestStream::oversizeFrame()
{
    QFETCH(int, bodyLength);
    QFETCH(int, chunkSize);
    QFETCH(bool, accepted);

    widget->show();
    QVERIFY(QTest::qWaitForWindowExposed(widget.get()));

    // A real picture padded after its end, so the decoder still reads it.
    QByteArray big = jpeg(Qt::red);
    big.append(bodyLength - big.size(), '\0');
    const QByteArray stream = framed(big);
    for (int at = 0; at < stream.size(); at += chunkSize)
        feed(stream.mid(at, chunkSize));

    QCOMPARE(log->count("Jpeg error"), accepted ? 0 : 1);
    QCOMPARE(log->debugLines().size(), accepted ? 0 : 1);
    verifyIdle();
    if (accepted) {
        QVERIFY(displayStartsWith(big));
        QTRY_VERIFY(similar(shownColour(), Qt::red));
    }

    // The frame after it is assembled from the start of the buffer as usual.
    const QByteArray next = jpeg(Qt::green);
    feed(framed(next));
    QVERIFY(displayStartsWith(next));
    QTRY_VERIFY(similar(shownColour(), Qt::green));
    QCOMPARE(log->count("Jpeg error"), accepted ? 0 : 1);
}

void TestStream::liveFramesAreShown()
{
    widget->show();
    QVERIFY(QTest::qWaitForWindowExposed(widget.get()));
    QVERIFY(similar(shownColour(), Qt::black));
    LoopbackCamera camera;
    QVERIFY(camera.listen());
    clickStart(*widget, camera.port());
    QVERIFY(camera.waitForViewer());

    const QByteArray red = jpeg(Qt::red);
    camera.send("hello" + framed(red));
    QTRY_VERIFY(similar(shownColour(), Qt::red));
    QVERIFY(displayStartsWith(red));

    const QByteArray yellow = jpeg(Qt::yellow);
    const QByteArray blue = jpeg(Qt::blue, QSize(200, 100));
    camera.send(framed(yellow).left(10));
    camera.send(framed(yellow).mid(10) + framed(blue));
    QTRY_VERIFY(similar(shownColour(), Qt::blue));
    QVERIFY(displayStartsWith(blue));
    QCOMPARE(log->debugLines(), QStringList {"Connection successfully!"});
}

// Frames that have piled up while the window was busy are all taken in one
// go: none is painted on its way to the newest.
void TestStream::backlogReadBeforeAPaint()
{
    widget->show();
    QVERIFY(QTest::qWaitForWindowExposed(widget.get()));
    LoopbackCamera camera;
    QVERIFY(camera.listen());
    clickStart(*widget, camera.port());
    QVERIFY(camera.waitForViewer());
    QCoreApplication::processEvents();
    Orvex *view = WidgetTestAccess::view(*widget);
    const qint64 decodesBefore = view->decodeCount();

    // Each frame larger than what the socket takes from the system at once,
    // made small here so that the system can hold them all.
    const int socketBuffer = 4096;
    WidgetTestAccess::socket(*widget)->setReadBufferSize(socketBuffer);
    QByteArray backlog;
    for (const Qt::GlobalColor colour : {Qt::red, Qt::yellow, Qt::blue})
        backlog += framed(withPadding(jpeg(colour), 3 * socketBuffer / 2));
    camera.peer->write(backlog);
    while (camera.peer->bytesToWrite() > 0)
        QVERIFY(camera.peer->waitForBytesWritten(5000));

    QTRY_VERIFY(similar(shownColour(), Qt::blue));
    QCOMPARE(view->decodeCount() - decodesBefore, 1);
}

void TestStream::frameCutByDisconnect_data()
{
    QTest::addColumn<QByteArray>("cutOff");

    const QByteArray stream = framed(jpeg(Qt::magenta));
    const int bodyLength = stream.size() - 8;
    QTest::newRow("inside the start marker") << stream.left(2);
    QTest::newRow("inside the body") << stream.left(4 + bodyLength / 2);
    QTest::newRow("inside the end marker") << stream.left(4 + bodyLength + 2);
    QTest::newRow("inside an oversize body")
        << "J_S=" + hex("FFD8FF") + QByteArray(kFrameBufferSize + 10, 'x');
}

// A camera that drops mid-frame starts a new frame on the next connection:
// that frame alone is shown, never spliced onto what the last one cut off.
void TestStream::frameCutByDisconnect()
{
    QFETCH(QByteArray, cutOff);

    widget->show();
    QVERIFY(QTest::qWaitForWindowExposed(widget.get()));
    LoopbackCamera camera;
    QVERIFY(camera.listen());

    clickStart(*widget, camera.port());
    QTcpSocket *first = camera.waitForViewer();
    QVERIFY(first);
    camera.send(cutOff);
    first->disconnectFromHost();
    QTRY_COMPARE(log->count("Disconnected!"), 1);
    QVERIFY(similar(shownColour(), Qt::black));

    clickStart(*widget, camera.port());
    QVERIFY(camera.waitForViewer());
    verifyIdle();
    const QByteArray picture = jpeg(Qt::cyan);
    camera.send(framed(picture));

    QTRY_VERIFY(similar(shownColour(), Qt::cyan));
    QVERIFY(displayStartsWith(picture));
    QCOMPARE(log->count("Jpeg error"), 0);
    verifyIdle();
}

QTEST_MAIN(TestStream)
#include "tst_stream.moc"
