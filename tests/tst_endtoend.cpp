// SPDX-License-Identifier: MIT
#include "camsimprocess.h"
#include "framecode.h"
#include "logcapture.h"
#include "widgettestaccess.h"

#include <QPushButton>
#include <QtTest>

namespace {

// The view paints the picture unscaled, 10 pixels in from its corner.
const QPoint kPictureOrigin(10, 10);

struct Viewer
{
    Widget window;

    Viewer() { window.show(); }

    WidgetForm *form() { return WidgetTestAccess::form(window); }

    void connectTo(quint16 port) { clickStart(window, port); }

    // The number of the frame on screen, read from the pixels; -1 for none.
    qint64 shownFrame(const QSize &picture)
    {
        const QImage screen = WidgetTestAccess::view(window)->grab().toImage();
        return FrameCode::read(screen, picture, kPictureOrigin);
    }
};

} // namespace

class TestEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void showsTheMovingPicture();
    void faults_data();
    void faults();
};

void TestEndToEnd::showsTheMovingPicture()
{
    const QSize picture(640, 480);
    CamsimProcess sim(ORVEX_CAMSIM_PATH);
    QVERIFY(sim.start({"--fps", "30", "--status-every", "0"}));
    Viewer viewer;
    LogCapture log;
    QCOMPARE(viewer.shownFrame(picture), qint64(-1));

    viewer.connectTo(sim.port);
    QCOMPARE(log.debugLines(), QStringList {"Connection successfully!"});
    QCOMPARE(viewer.form()->pushButton->text(), QString("Stop"));

    QTRY_VERIFY_WITH_TIMEOUT(viewer.shownFrame(picture) > 0, 10000);
    const qint64 first = viewer.shownFrame(picture);
    const QImage before = WidgetTestAccess::view(viewer.window)->grab().toImage();
    QTRY_VERIFY_WITH_TIMEOUT(viewer.shownFrame(picture) >= first + 3, 10000);
    QVERIFY(WidgetTestAccess::view(viewer.window)->grab().toImage() != before);

    QTest::mouseClick(viewer.form()->pushButton, Qt::LeftButton);
    QCOMPARE(viewer.form()->pushButton->text(), QString("Start"));
    QVERIFY(!log.debugLines().contains("Jpeg error"));
}

void TestEndToEnd::faults_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("minJpegErrors");
    QTest::addColumn<int>("maxJpegErrors");
    QTest::addColumn<int>("lastShown");

    // Oversized frames are the viewer's to drop as it sees fit, with or
    // without a log line; the frames after them must be shown.
    QTest::newRow("clean") << QStringList {"--frames", "8"} << 0 << 0 << 8;
    QTest::newRow("chunk 1") << QStringList {"--frames", "4", "--chunk", "1"} << 0 << 0 << 4;
    QTest::newRow("bad every 3") << QStringList {"--frames", "8", "--bad-every", "3"} << 2 << 2
                                 << 8;
    QTest::newRow("bad last frame")
        << QStringList {"--frames", "9", "--bad-every", "3"} << 3 << 3 << 8;
    QTest::newRow("oversize every 4")
        << QStringList {"--frames", "10", "--oversize-every", "4"} << 0 << 2 << 10;
    QTest::newRow("oversize last frame")
        << QStringList {"--frames", "8", "--oversize-every", "4"} << 0 << 2 << 7;
    QTest::newRow("every fault, random chunks")
        << QStringList {"--frames",         "12", "--bad-every", "5", "--junk", "--chunk", "random",
                        "--oversize-every", "4",  "--seed",      "5"}
        << 2 << 5 << 11;
}

// The simulator sends a fixed number of frames and closes; the viewer must
// log exactly one "Jpeg error" per bad frame, and end up showing the last
// good one.
void TestEndToEnd::faults()
{
    QFETCH(QStringList, args);
    QFETCH(int, minJpegErrors);
    QFETCH(int, maxJpegErrors);
    QFETCH(int, lastShown);

    const QSize picture(320, 240);
    CamsimProcess sim(ORVEX_CAMSIM_PATH);
    QVERIFY(
        sim.start(QStringList {"--size", "320x240", "--fps", "0", "--status-every", "0"} + args));
    Viewer viewer;
    LogCapture log;
    viewer.connectTo(sim.port);
    // Generous for the one-byte writes in an emulated PC (a 32-bit Windows build).
    QTRY_VERIFY_WITH_TIMEOUT(log.count("Disconnected!") == 1, 60000);

    QStringList lines = log.debugLines();
    QCOMPARE(lines.takeFirst(), QString("Connection successfully!"));
    QCOMPARE(lines.takeLast(), QString("Disconnected!"));
    const int jpegErrors = lines.count("Jpeg error");
    QCOMPARE(jpegErrors, lines.size());
    QVERIFY2(jpegErrors >= minJpegErrors && jpegErrors <= maxJpegErrors,
             QByteArray::number(jpegErrors));
    QCOMPARE(log.otherLines(), QStringList());

    QCOMPARE(viewer.shownFrame(picture), qint64(lastShown));
    QVERIFY(sim.waitForExit());
    QCOMPARE(sim.process.exitCode(), 0);
}

QTEST_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
