// SPDX-License-Identifier: MIT
// A camera that vanishes without a word, and one that only pauses, on a
// loopback inside a network namespace of this process's own: there nftables
// may drop a connection's packets without touching anyone else's network.

#include "jpegframes.h"
#include "logcapture.h"
#include "loopbackcamera.h"
#include "privatenamespace.h"
#include "widget.h"
#include "widgetform.h"
#include "widgettestaccess.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QtTest>

#include <cstring>
#include <memory>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace JpegFrames;

namespace {

// From the camera's last packet to "Disconnected!".
constexpr int kNoticeWithinMs = 15000;
constexpr int kPauseMs = 5000;

bool bringLoopbackUp()
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    ifreq request {};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    bool ok = ::ioctl(fd, SIOCGIFFLAGS, &request) == 0;
    request.ifr_flags = short(request.ifr_flags | IFF_UP);
    ok = ok && ::ioctl(fd, SIOCSIFFLAGS, &request) == 0;
    ::close(fd);
    return ok;
}

// A network namespace of this process's own with just a loopback, as
// `unshare -n` (as root) or `unshare -rn` would make it. Must run while the
// process has one thread. Returns why it could not, or an empty string.
QString enterPrivateNetwork()
{
    const QString problem = enterPrivateNamespaces(CLONE_NEWNET);
    if (!problem.isEmpty())
        return problem;
    if (!bringLoopbackUp())
        return QStringLiteral("the namespace's loopback could not be brought up");
    return QString();
}

QString privateNetworkProblem;

// Drops every packet to or from port on this namespace's loopback, as if the
// peer had lost power. Returns nft's complaint, or an empty string.
QString dropPackets(quint16 port)
{
    QString nft = QStandardPaths::findExecutable("nft");
    if (nft.isEmpty())
        nft = QStandardPaths::findExecutable("nft", {"/usr/sbin", "/sbin"});
    if (nft.isEmpty())
        return QStringLiteral("nft is not installed");
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(nft, {"-f", "-"});
    process.write(QStringLiteral("table inet vanish {\n"
                                 "  chain input {\n"
                                 "    type filter hook input priority 0; policy accept;\n"
                                 "    tcp sport %1 drop\n"
                                 "    tcp dport %1 drop\n"
                                 "  }\n"
                                 "}\n")
                      .arg(port)
                      .toLatin1());
    process.closeWriteChannel();
    if (!process.waitForFinished(10000) || process.exitStatus() != QProcess::NormalExit
        || process.exitCode() != 0)
        return QStringLiteral("nft failed: ") + QString::fromLocal8Bit(process.readAll());
    return QString();
}

// One viewer window on its own camera.
struct Viewer
{
    Widget widget;
    LoopbackCamera camera;

    QString buttonText() { return WidgetTestAccess::form(widget)->pushButton->text(); }
    bool shows(const QByteArray &picture)
    {
        return std::memcmp(WidgetTestAccess::displayBuffer(widget), picture.constData(),
                           size_t(picture.size()))
            == 0;
    }
};

} // namespace

class TestKeepAlive : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void silentCameras();
};

void TestKeepAlive::initTestCase()
{
    if (privateNetworkProblem.isEmpty())
        return;
    // CI has the rights and the tools: there a skip would hide a failure.
    if (qgetenv("CI") == "true")
        QFAIL(qPrintable(privateNetworkProblem));
    QSKIP(qPrintable(privateNetworkProblem));
}

// Both at once, to keep the wait short: one camera vanishes, the other
// pauses and then sends again.
void TestKeepAlive::silentCameras()
{
    LogCapture log;
    Viewer vanishing;
    Viewer pausing;
    const QByteArray first = jpeg(Qt::red);
    for (Viewer *viewer : {&vanishing, &pausing}) {
        QVERIFY(viewer->camera.listen());
        clickStart(viewer->widget, viewer->camera.port());
        QVERIFY(viewer->camera.waitForViewer());
        viewer->camera.send(framed(first));
        QTRY_VERIFY(viewer->shows(first));
    }
    QElapsedTimer sinceLastPacket;
    sinceLastPacket.start();
    const QString problem = dropPackets(vanishing.camera.port());
    if (!problem.isEmpty()) {
        if (qgetenv("CI") == "true")
            QFAIL(qPrintable(problem));
        QSKIP(qPrintable(problem));
    }

    QTest::qWait(kPauseMs);
    const QByteArray second = jpeg(Qt::blue);
    pausing.camera.send(framed(second));
    QTRY_VERIFY(pausing.shows(second));
    QCOMPARE(pausing.buttonText(), QStringLiteral("Stop"));

    QTRY_COMPARE_WITH_TIMEOUT(vanishing.buttonText(), QStringLiteral("Start"),
                              kNoticeWithinMs + 2000 - int(sinceLastPacket.elapsed()));
    const qint64 noticedAfterMs = sinceLastPacket.elapsed();
    qInfo().noquote() << "vanished camera noticed after" << noticedAfterMs << "ms";
    QVERIFY2(noticedAfterMs <= kNoticeWithinMs, qPrintable(QString::number(noticedAfterMs)));
    QCOMPARE(log.count("Disconnected!"), 1);
    QCOMPARE(pausing.buttonText(), QStringLiteral("Stop"));
    QCOMPARE(WidgetTestAccess::socket(pausing.widget)->state(), QAbstractSocket::ConnectedState);
}

int main(int argc, char **argv)
{
    // Before Qt starts any thread: a process with several may not move.
    privateNetworkProblem = enterPrivateNetwork();
    QApplication app(argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    TestKeepAlive test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_keepalive.moc"
