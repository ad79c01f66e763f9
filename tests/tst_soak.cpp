// SPDX-License-Identifier: MIT
// The real window on a faulty camera and a hostile one, for as long as
// ORVEX_SOAK_SECONDS says (skipped when it is not set). The window reconnects
// whenever a camera drops it, alternating between the simulator (random
// chunks, junk, bad and oversized frames, dropped connections) and a server
// that sends decompression bombs, scan floods, truncated frames and noise.
// Good frames must keep being shown, and resident memory must stay flat once
// warmed up.

#include "camsimprocess.h"
#include "framecode.h"
#include "hostileframes.h"
#include "logging.h"
#include "orvex.h"
#include "widget.h"
#include "widgetform.h"
#include "widgettestaccess.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <atomic>
#include <memory>

#include <unistd.h>

using namespace HostileFrames;

namespace {

const QSize kCameraPicture(640, 480);
const QPoint kPictureOrigin(10, 10);
// Frame numbers the hostile server marks its good frames with, far above
// anything the simulator reaches in a soak.
constexpr quint32 kHostileCodeBase = 0xF00000;

qint64 residentBytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toLongLong() * sysconf(_SC_PAGESIZE) : -1;
}

QByteArray codedJpeg(quint32 number)
{
    QImage picture(kCameraPicture, QImage::Format_RGB32);
    picture.fill(Qt::darkCyan);
    QPainter painter(&picture);
    FrameCode::paint(painter, kCameraPicture, number);
    painter.end();
    return encodeJpeg(picture, {80});
}

// Each connection gets every kind of hostile frame once, then one good
// frame carrying a number, then the connection is closed.
class HostileServer : public QTcpServer
{
public:
    HostileServer()
    {
        const QByteArray good = codedJpeg(1);
        const QByteArray progressive = solidJpeg(Qt::red, QSize(64, 48), kProgressive);
        QByteArray oversized = noiseAfterStart(1100 * 1024, 3);
        frames = {
            withDeclaredSize(good, 40000, 40000),
            withDeclaredSize(progressive, 65535, 65535),
            withExtraScans(withDeclaredSize(progressive, 4096, 4096), 2000),
            withExtraScans(withDeclaredSize(progressive, 640, 480), 30000),
            good.left(good.size() / 2),
            good.left(200),
            noiseAfterStart(30000, 5),
            oversized,
            QByteArrayLiteral("\xFF\xD8\xFF"),
        };
        connect(this, &QTcpServer::newConnection, this, &HostileServer::serve);
    }

    quint32 lastCode = 0;

private:
    void serve()
    {
        while (QTcpSocket *client = nextPendingConnection()) {
            connect(client, &QTcpSocket::disconnected, client, &QObject::deleteLater);
            QByteArray stream("J_S;J_E=junk");
            for (const QByteArray &frame : frames)
                stream += framed(frame) + "J_x";
            lastCode = kHostileCodeBase + ++sessions;
            stream += framed(codedJpeg(lastCode));
            client->write(stream);
            client->disconnectFromHost();
        }
    }

    QVector<QByteArray> frames;
    quint32 sessions = 0;
};

// The viewer logs a line per bad frame and per connection, and the image
// library complains about every corrupt frame: count, do not print.
class JpegErrorCounter : public LogSink
{
public:
    JpegErrorCounter()
    {
        setUpLogging();
        enclosing = setLogSink(this);
    }
    ~JpegErrorCounter() override { setLogSink(enclosing); }
    JpegErrorCounter(const JpegErrorCounter &) = delete;
    JpegErrorCounter &operator=(const JpegErrorCounter &) = delete;

    std::atomic<int> count {0};

private:
    bool receive(QtMsgType, const QMessageLogContext &, const QString &message) override
    {
        if (message == QLatin1String("Jpeg error"))
            ++count;
        return false;
    }

    LogSink *enclosing;
};

} // namespace

class TestSoak : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void soak();

private:
    int seconds = 0;
};

// Skipped here, not in soak(), so that the whole test counts as skipped.
void TestSoak::initTestCase()
{
    seconds = qEnvironmentVariableIntValue("ORVEX_SOAK_SECONDS");
    if (seconds <= 0)
        QSKIP("set ORVEX_SOAK_SECONDS to run the soak");
}

void TestSoak::soak()
{

    CamsimProcess camsim(ORVEX_CAMSIM_PATH);
    QVERIFY2(camsim.start({"--size", "640x480", "--fps", "60", "--quality", "70", "--chunk",
                           "random", "--junk", "--bad-every", "7", "--oversize-every", "11",
                           "--drop-after", "150", "--status-every", "0"}),
             qPrintable(camsim.errorOutput()));
    HostileServer hostile;
    QVERIFY(hostile.listen(QHostAddress::LocalHost, 0));

    Widget widget;
    widget.show();
    WidgetForm *form = WidgetTestAccess::form(widget);
    Orvex *view = WidgetTestAccess::view(widget);
    auto jpegErrorCounter = std::make_unique<JpegErrorCounter>();

    const qint64 warmUpMs = qMax(5000, seconds * 1000 / 3);
    QElapsedTimer clock;
    clock.start();
    int sessions = 0;
    int hostileSessions = 0;
    bool onHostile = false;
    qint64 lastCameraCode = -1;
    qint64 lastNewCodeMs = 0;
    qint64 longestGapMs = 0;
    qint64 longestStallMs = 0;
    int codesSeen = 0;
    qint64 rssAfterWarmUp = -1;
    qint64 rssPeak = 0;
    qint64 nextRssSample = 0;
    QStringList trend; // resident MiB at every tenth of the run
    QStringList failures;

    while (clock.elapsed() < seconds * 1000LL && failures.isEmpty()) {
        if (form->pushButton->text() == QLatin1String("Start")) {
            if (onHostile) {
                // Everything the hostile server sent is in: its good frame is on show.
                const qint64 code
                    = FrameCode::read(view->grab().toImage(), kCameraPicture, kPictureOrigin);
                if (code != hostile.lastCode)
                    failures << QString("after hostile session %1 the view shows code %2")
                                    .arg(hostileSessions)
                                    .arg(code);
            }
            onHostile = ++sessions % 3 == 0;
            hostileSessions += onHostile ? 1 : 0;
            const quint16 port = onHostile ? hostile.serverPort() : camsim.port;
            clickStart(widget, port);
        }

        // Let the stream run for a moment, then look at what is on show.
        const qint64 before = clock.elapsed();
        QTest::qWait(50);
        longestStallMs = qMax(longestStallMs, clock.elapsed() - before - 50);
        const qint64 code = FrameCode::read(view->grab().toImage(), kCameraPicture, kPictureOrigin);
        const qint64 now = clock.elapsed();
        if (code >= 0 && code < kHostileCodeBase && code != lastCameraCode) {
            lastCameraCode = code;
            ++codesSeen;
            lastNewCodeMs = now;
        }
        longestGapMs = qMax(longestGapMs, now - lastNewCodeMs);
        if (now - lastNewCodeMs > 10000)
            failures << QString("no new camera frame on show for %1 ms").arg(now - lastNewCodeMs);

        if (now >= nextRssSample) {
            const qint64 rss = residentBytes();
            if (now < warmUpMs)
                rssAfterWarmUp = rss;
            else
                rssPeak = qMax(rssPeak, rss);
            if (now >= trend.size() * seconds * 100LL)
                trend << QString::number(rss / 1048576.0, 'f', 1);
            nextRssSample = now + 500;
        }
    }
    const int jpegErrors = jpegErrorCounter->count;
    jpegErrorCounter.reset();
    if (form->pushButton->text() != QLatin1String("Start"))
        QTest::mouseClick(form->pushButton, Qt::LeftButton);

    const qint64 growth = rssPeak - rssAfterWarmUp;
    qInfo("soak: resident MiB at each tenth of the run: %s", qPrintable(trend.join(' ')));
    qInfo("soak: %d s, %d sessions (%d hostile), %d camera frames seen on show, longest wait "
          "for a new one %lld ms, event loop stalled at most %lld ms, %d Jpeg error lines, "
          "resident %.1f MiB after warm-up, peak %.1f MiB after (growth %.1f MiB)",
          seconds, sessions, hostileSessions, codesSeen, longestGapMs, longestStallMs, jpegErrors,
          rssAfterWarmUp / 1048576.0, rssPeak / 1048576.0, growth / 1048576.0);

    QVERIFY2(failures.isEmpty(), qPrintable(failures.join('\n')));
    QVERIFY(hostileSessions > 0);
    // A scan flood let through would hold the window for seconds; normal
    // frames take milliseconds even under the sanitizers.
    QVERIFY2(longestStallMs < 1000,
             qPrintable(QString("window stalled %1 ms").arg(longestStallMs)));
    QVERIFY(codesSeen >= seconds);
    QVERIFY(jpegErrors > 0);
    QVERIFY(rssAfterWarmUp > 0);
    // Generous: allocator caches and the sanitizers' quarantine settle in
    // steps, while a leak of one frame per frame would be gigabytes.
    QVERIFY2(growth < 32 * 1048576,
             qPrintable(QString("resident memory grew by %1 bytes").arg(growth)));
}

int main(int argc, char *argv[])
{
    // Qt Test ends a test function after five minutes; a soak may be longer on purpose.
    if (!qEnvironmentVariableIsSet("QTEST_FUNCTION_TIMEOUT")) {
        const int seconds = qEnvironmentVariableIntValue("ORVEX_SOAK_SECONDS");
        qputenv("QTEST_FUNCTION_TIMEOUT", QByteArray::number((qMax(0, seconds) + 300) * 1000LL));
    }
    QApplication app(argc, argv);
    TestSoak test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_soak.moc"
