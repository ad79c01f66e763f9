// SPDX-License-Identifier: MIT
#include "logcapture.h"
#include "loopbackcamera.h"
#include "widget.h"
#include "widgetform.h"
#include "widgettestaccess.h"

#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QtTest>

#include <algorithm>
#include <memory>

#ifdef Q_OS_LINUX
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

// Watches the Start/Stop button: what a paint showed, and every change of
// its enabled state.
class ButtonWatch : public QObject
{
public:
    struct Paint
    {
        bool enabled;
        int linesLogged;
    };

    ButtonWatch(QPushButton *button, const LogCapture &log) : log(log)
    {
        button->installEventFilter(this);
    }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        auto *button = static_cast<QPushButton *>(watched);
        if (event->type() == QEvent::Paint)
            paints.append({button->isEnabled(), int(log.debugLines().size())});
        else if (event->type() == QEvent::EnabledChange)
            enabledChanges.append(button->isEnabled());
        return false;
    }

    // The disabled button was on screen before the outcome was known.
    bool disabledShownBeforeOutcome() const
    {
        return std::any_of(paints.cbegin(), paints.cend(),
                           [](const Paint &p) { return !p.enabled && p.linesLogged == 0; });
    }

    QList<Paint> paints;
    QList<bool> enabledChanges;

private:
    const LogCapture &log;
};

// Stands in for the system's name lookup. Answers with addresses at once
// (answerMs 0), later on a timer bound to the lookup's context as the system's
// lookup is (answerMs > 0), or never (answerMs < 0); and keeps the answer
// function, so a test can also answer after the window has stopped waiting.
class LookupStandIn
{
public:
    LookupStandIn(const QStringList &addresses, int answerMs) : answerMs(answerMs)
    {
        for (const QString &address : addresses)
            this->addresses.append(QHostAddress(address));
    }

    HostLookup function()
    {
        return [this](const QString &host, QObject *context, AnswerFunction done) {
            asked.append(host);
            kept = done;
            if (answerMs == 0) {
                done(addresses);
            } else if (answerMs > 0) {
                QTimer::singleShot(answerMs, Qt::PreciseTimer, context,
                                   [done, found = addresses] { done(found); });
            }
        };
    }

    void answerLate()
    {
        QVERIFY(kept);
        kept(addresses);
    }

    QStringList asked;

private:
    using AnswerFunction = std::function<void(const QList<QHostAddress> &)>;

    QList<QHostAddress> addresses;
    int answerMs;
    AnswerFunction kept;
};

bool fileHasLine(const QString &path, const QString &pattern)
{
    QFile file(path);
    const QRegularExpression line(pattern, QRegularExpression::MultilineOption);
    return file.open(QIODevice::ReadOnly)
        && line.match(QString::fromLatin1(file.readAll())).hasMatch();
}

// Whether the system answers "localhost" from its hosts file, asking no server.
bool localhostFromHostsFile()
{
    return fileHasLine("/etc/nsswitch.conf", "^hosts:\\s+files\\b")
        && fileHasLine("/etc/hosts", "^127\\.0\\.0\\.1\\s.*\\blocalhost\\b");
}

// The name typed in tests that use a stand-in: one the hosts file answers,
// so that even a lookup that wrongly bypassed the stand-in asks no server.
const QString kHostName = QStringLiteral("localhost");

} // namespace

class TestConnection : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void connectsAndShowsStop();
    void closedPortFailsFast();
    void unansweredConnectTimesOut();
    void stopClickDisconnects();
    void deviceClosingResetsButton();
    void secondClickUsesCurrentFields();
    void invalidPortIsRefused_data();
    void invalidPortIsRefused();
    void validPortTextConnects_data();
    void validPortTextConnects();
    void otherButtonTextDisconnects_data();
    void otherButtonTextDisconnects();
    void startDropsAnyEarlierConnection();
    void viewerSendsNothing();
    void connectingStartsFreshAssembly();
    void hostNameLookup_data();
    void hostNameLookup();
    void addressNeedsNoLookup_data();
    void addressNeedsNoLookup();
    void lateLookupAnswerHasNoEffect();
    void systemLookupOfLocalhost();

private:
    QPushButton *button() const { return WidgetTestAccess::form(*widget)->pushButton; }
    QTcpSocket *socket() const { return WidgetTestAccess::socket(*widget); }

    std::unique_ptr<Widget> widget;
    std::unique_ptr<LogCapture> log;
    std::unique_ptr<ButtonWatch> watch;
};

void TestConnection::init()
{
    // Built before the capture starts: construction warns about the two
    // socket slots that have no child to connect to by name.
    widget = std::make_unique<Widget>();
    widget->show();
    QVERIFY(QTest::qWaitForWindowExposed(widget.get()));
    log = std::make_unique<LogCapture>();
    watch = std::make_unique<ButtonWatch>(button(), *log);
}

void TestConnection::cleanup()
{
    watch.reset();
    widget.reset();
    log.reset();
}

void TestConnection::connectsAndShowsStop()
{
    LoopbackCamera camera;
    QVERIFY(camera.listen());

    clickStart(*widget, camera.port());

    QCOMPARE(log->debugLines(), QStringList {"Connection successfully!"});
    QVERIFY(log->otherLines().isEmpty());
    QCOMPARE(button()->text(), QStringLiteral("Stop"));
    QVERIFY(button()->isEnabled());
    QCOMPARE(socket()->state(), QAbstractSocket::ConnectedState);
    QVERIFY(camera.waitForViewer());

    QVERIFY(watch->disabledShownBeforeOutcome());
    QCOMPARE(watch->enabledChanges, (QList<bool> {false, true}));
}

void TestConnection::closedPortFailsFast()
{
    LoopbackCamera camera;
    QVERIFY(camera.listen());
    const quint16 port = camera.port();
    camera.close();

    QElapsedTimer timer;
    timer.start();
    clickStart(*widget, port);

    QVERIFY2(timer.elapsed() < 2000, qPrintable(QString::number(timer.elapsed())));
    QCOMPARE(log->debugLines(), QStringList {"Connection failed!"});
    QCOMPARE(button()->text(), QStringLiteral("Start"));
    QVERIFY(button()->isEnabled());
    QCOMPARE(watch->enabledChanges, (QList<bool> {false, true}));
}

void TestConnection::unansweredConnectTimesOut()
{
#ifdef Q_OS_LINUX
    // A listener whose accept queue is full drops further handshakes, so a
    // connect to it neither succeeds nor is refused: it hangs.
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    QVERIFY(listener >= 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    QCOMPARE(::bind(listener, reinterpret_cast<sockaddr *>(&address), length), 0);
    QCOMPARE(::listen(listener, 0), 0);
    QCOMPARE(::getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length), 0);
    const quint16 port = ntohs(address.sin_port);

    std::vector<std::unique_ptr<QTcpSocket>> fillers;
    bool queueFull = false;
    for (int i = 0; i < 8 && !queueFull; ++i) {
        auto filler = std::make_unique<QTcpSocket>();
        filler->connectToHost(QHostAddress::LocalHost, port);
        if (filler->waitForConnected(500))
            fillers.push_back(std::move(filler));
        else
            queueFull = true;
    }
    if (!queueFull) {
        ::close(listener);
        QSKIP("loopback connects never hang here");
    }

    QElapsedTimer timer;
    timer.start();
    clickStart(*widget, port);
    const qint64 elapsed = timer.elapsed();
    ::close(listener);

    QCOMPARE(log->debugLines(), QStringList {"Connection failed!"});
    QVERIFY2(elapsed >= 2900 && elapsed < 4500, qPrintable(QString::number(elapsed)));
    QCOMPARE(button()->text(), QStringLiteral("Start"));
    QVERIFY(button()->isEnabled());
    QCOMPARE(socket()->state(), QAbstractSocket::UnconnectedState);
#else
    QSKIP("needs Linux accept-queue behaviour");
#endif
}

void TestConnection::stopClickDisconnects()
{
    LoopbackCamera camera;
    QVERIFY(camera.listen());
    clickStart(*widget, camera.port());
    QCOMPARE(button()->text(), QStringLiteral("Stop"));
    QTcpSocket *peer = camera.waitForViewer();
    QVERIFY(peer);
    log->clear();

    QTest::mouseClick(button(), Qt::LeftButton);

    QTRY_COMPARE(log->debugLines(), QStringList {"Disconnected!"});
    QCOMPARE(button()->text(), QStringLiteral("Start"));
    QVERIFY(button()->isEnabled());
    QTRY_COMPARE(peer->state(), QAbstractSocket::UnconnectedState);
}

void TestConnection::deviceClosingResetsButton()
{
    LoopbackCamera camera;
    QVERIFY(camera.listen());
    clickStart(*widget, camera.port());
    QTcpSocket *peer = camera.waitForViewer();
    QVERIFY(peer);
    log->clear();

    peer->close();

    QTRY_COMPARE(log->debugLines(), QStringList {"Disconnected!"});
    QCOMPARE(button()->text(), QStringLiteral("Start"));
    QVERIFY(button()->isEnabled());

    // Start works again on the same socket.
    log->clear();
    QTest::mouseClick(button(), Qt::LeftButton);
    QCOMPARE(log->debugLines(), QStringList {"Connection successfully!"});
    QVERIFY(camera.waitForViewer());
}

void TestConnection::secondClickUsesCurrentFields()
{
    LoopbackCamera gone;
    QVERIFY(gone.listen());
    const quint16 closedPort = gone.port();
    gone.close();
    LoopbackCamera camera;
    QVERIFY(camera.listen());

    clickStart(*widget, closedPort);
    QCOMPARE(log->debugLines(), QStringList {"Connection failed!"});
    QCOMPARE(button()->text(), QStringLiteral("Start"));
    QVERIFY(button()->isEnabled());

    clickStart(*widget, camera.port());
    QCOMPARE(log->debugLines(), (QStringList {"Connection failed!", "Connection successfully!"}));
    QCOMPARE(button()->text(), QStringLiteral("Stop"));
    QVERIFY(camera.waitForViewer());
    QCOMPARE(socket()->peerPort(), camera.port());
}

void TestConnection::invalidPortIsRefused_data()
{
    QTest::addColumn<QString>("portText");
    // The port a 16-bit truncation of the text would have reached, 0 if none.
    QTest::addColumn<int>("truncatedPort");

    QTest::newRow("above 16 bits") << "70000" << (70000 & 0xFFFF);
    QTest::newRow("one past the top") << "65536" << 0;
    QTest::newRow("zero") << "0" << 0;
    QTest::newRow("negative") << "-1" << 65535;
    QTest::newRow("letters") << "abc" << 0;
    QTest::newRow("empty") << "" << 0;
    QTest::newRow("digits then letters") << "50a" << 0;
    QTest::newRow("fraction") << "5000.5" << 0;
    QTest::newRow("beyond 32 bits") << "4294972296" << 0;
}

void TestConnection::invalidPortIsRefused()
{
    QFETCH(QString, portText);
    QFETCH(int, truncatedPort);

    // If the port that truncation would reach is free, listen there: no
    // connection may arrive.
    LoopbackCamera wrongService;
    const bool watching = truncatedPort != 0 && wrongService.listen(quint16(truncatedPort));

    clickStart(*widget, QStringLiteral("127.0.0.1"), portText);

    QCOMPARE(log->debugLines(), QStringList {"Connection failed!"});
    QCOMPARE(button()->text(), QStringLiteral("Start"));
    QVERIFY(button()->isEnabled());
    QVERIFY(watch->enabledChanges.isEmpty());
    QCOMPARE(socket()->state(), QAbstractSocket::UnconnectedState);
    if (watching)
        QVERIFY(!wrongService.hasUnacceptedViewer());
}

void TestConnection::validPortTextConnects_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<int>("fixedPort");

    QTest::newRow("plain") << "%1" << 0;
    QTest::newRow("leading space") << " %1" << 0;
    QTest::newRow("trailing space") << "%1 " << 0;
    QTest::newRow("leading zero") << "0%1" << 0;
    QTest::newRow("highest port") << "%1" << 65535;
}

void TestConnection::validPortTextConnects()
{
    QFETCH(QString, pattern);
    QFETCH(int, fixedPort);

    LoopbackCamera camera;
    if (!camera.listen(quint16(fixedPort)))
        QSKIP("port in use");

    clickStart(*widget, QStringLiteral("127.0.0.1"), pattern.arg(camera.port()));

    QCOMPARE(log->debugLines(), QStringList {"Connection successfully!"});
    QCOMPARE(button()->text(), QStringLiteral("Stop"));
    QVERIFY(camera.waitForViewer());
}

void TestConnection::otherButtonTextDisconnects_data()
{
    QTest::addColumn<QString>("text");

    QTest::newRow("lower case") << "start";
    QTest::newRow("trailing space") << "Start ";
    QTest::newRow("empty") << "";
}

void TestConnection::otherButtonTextDisconnects()
{
    QFETCH(QString, text);

    LoopbackCamera camera;
    QVERIFY(camera.listen());
    button()->setText(text);

    clickStart(*widget, camera.port());

    // Only an exact "Start" connects; anything else is taken as "Stop".
    QCOMPARE(button()->text(), QStringLiteral("Start"));
    QVERIFY(log->debugLines().isEmpty());
    QCOMPARE(socket()->state(), QAbstractSocket::UnconnectedState);
    QVERIFY(!camera.hasUnacceptedViewer());
}

void TestConnection::startDropsAnyEarlierConnection()
{
    LoopbackCamera first;
    QVERIFY(first.listen());
    LoopbackCamera second;
    QVERIFY(second.listen());
    clickStart(*widget, first.port());
    QTcpSocket *old = first.waitForViewer();
    QVERIFY(old);
    // Only a button that reads "Start" while still connected gets here.
    button()->setText("Start");
    log->clear();

    clickStart(*widget, second.port());

    QVERIFY(second.waitForViewer());
    QCOMPARE(socket()->peerPort(), second.port());
    QCOMPARE(log->debugLines().last(), QStringLiteral("Connection successfully!"));
    QTRY_COMPARE(old->state(), QAbstractSocket::UnconnectedState);
}

void TestConnection::viewerSendsNothing()
{
    LoopbackCamera camera;
    QVERIFY(camera.listen());
    clickStart(*widget, camera.port());
    QTcpSocket *peer = camera.waitForViewer();
    QVERIFY(peer);

    camera.send("J_S=\xFF\xD8\xFF\xD9J_E;J_S=notajpegJ_E;");
    QTRY_COMPARE(log->count("Jpeg error"), 1);
    QTest::mouseClick(button(), Qt::LeftButton);
    QTRY_COMPARE(peer->state(), QAbstractSocket::UnconnectedState);

    QCOMPARE(peer->readAll(), QByteArray());
}

void TestConnection::connectingStartsFreshAssembly()
{
    LoopbackCamera camera;
    QVERIFY(camera.listen());
    WidgetTestAccess::feed(*widget, "J_S=\xFF\xD8\xFFJ_");
    QTest::mouseClick(WidgetTestAccess::form(*widget)->CatptureBtn, Qt::LeftButton);

    clickStart(*widget, camera.port());
    QVERIFY(camera.waitForViewer());

    QCOMPARE(WidgetTestAccess::markerState(*widget), 0);
    QCOMPARE(WidgetTestAccess::inFrame(*widget), 0);
    QCOMPARE(WidgetTestAccess::frameLength(*widget), 0);
    QCOMPARE(QByteArray(WidgetTestAccess::frameBuffer(*widget), 8), QByteArray(8, '\0'));
    QVERIFY(WidgetTestAccess::captureRequested(*widget));
}

// The lookup and the connect share one 3000 ms wait.
void TestConnection::hostNameLookup_data()
{
    QTest::addColumn<QStringList>("addresses");
    QTest::addColumn<int>("answerMs");
    QTest::addColumn<bool>("connects");
    QTest::addColumn<int>("minMs");
    QTest::addColumn<int>("maxMs");

    QTest::newRow("answered at once") << QStringList {"127.0.0.1"} << 0 << true << 0 << 2000;
    QTest::newRow("answered while waiting")
        << QStringList {"127.0.0.1"} << 300 << true << 250 << 2000;
    // As the socket does for a name, the next address is tried when one refuses.
    QTest::newRow("first address refuses")
        << QStringList {"::1", "127.0.0.1"} << 0 << true << 0 << 2000;
    QTest::newRow("unknown name") << QStringList {} << 0 << false << 0 << 1000;
    QTest::newRow("never answered") << QStringList {"127.0.0.1"} << -1 << false << 2900 << 4500;
}

void TestConnection::hostNameLookup()
{
    QFETCH(QStringList, addresses);
    QFETCH(int, answerMs);
    QFETCH(bool, connects);
    QFETCH(int, minMs);
    QFETCH(int, maxMs);

    LoopbackCamera camera;
    QVERIFY(camera.listen());
    LookupStandIn lookup(addresses, answerMs);
    widget->setHostLookup(lookup.function());

    QElapsedTimer timer;
    timer.start();
    clickStart(*widget, kHostName, QString::number(camera.port()));
    const qint64 elapsed = timer.elapsed();

    QCOMPARE(lookup.asked, QStringList {kHostName});
    QVERIFY2(elapsed >= minMs && elapsed < maxMs, qPrintable(QString::number(elapsed)));
    QCOMPARE(log->debugLines(),
             QStringList {connects ? "Connection successfully!" : "Connection failed!"});
    QCOMPARE(button()->text(), QLatin1String(connects ? "Stop" : "Start"));
    QVERIFY(button()->isEnabled());
    QCOMPARE(watch->enabledChanges, (QList<bool> {false, true}));
    QVERIFY(watch->disabledShownBeforeOutcome());
    if (connects) {
        QVERIFY(camera.waitForViewer());
        QCOMPARE(socket()->peerAddress(), QHostAddress(QHostAddress::LocalHost));
    } else {
        QCOMPARE(socket()->state(), QAbstractSocket::UnconnectedState);
        QVERIFY(!camera.hasUnacceptedViewer());
    }
}

void TestConnection::addressNeedsNoLookup_data()
{
    QTest::addColumn<QString>("address");

    QTest::newRow("IPv4") << "127.0.0.1";
    QTest::newRow("IPv6") << "::1";
}

void TestConnection::addressNeedsNoLookup()
{
    QFETCH(QString, address);

    LoopbackCamera camera;
    if (!camera.server.listen(QHostAddress(address)))
        QSKIP("no such loopback address here");
    LookupStandIn lookup({}, -1);
    widget->setHostLookup(lookup.function());

    clickStart(*widget, address, QString::number(camera.port()));

    QVERIFY(lookup.asked.isEmpty());
    QCOMPARE(log->debugLines(), QStringList {"Connection successfully!"});
    QVERIFY(camera.waitForViewer());
}

// An answer after the wait, from a lookup that heeds its context or one that
// does not, changes nothing, even once the window is gone.
void TestConnection::lateLookupAnswerHasNoEffect()
{
    LoopbackCamera camera;
    QVERIFY(camera.listen());
    LookupStandIn lookup({"127.0.0.1"}, 3300);
    widget->setHostLookup(lookup.function());

    clickStart(*widget, kHostName, QString::number(camera.port()));
    QCOMPARE(log->debugLines(), QStringList {"Connection failed!"});
    QTest::qWait(500); // past the stand-in's own answer
    lookup.answerLate();
    QCoreApplication::processEvents();

    QVERIFY(!camera.hasUnacceptedViewer());
    QCOMPARE(socket()->state(), QAbstractSocket::UnconnectedState);
    QCOMPARE(log->debugLines(), QStringList {"Connection failed!"});
    QCOMPARE(button()->text(), QStringLiteral("Start"));
    QVERIFY(button()->isEnabled());

    watch.reset();
    widget.reset();
    lookup.answerLate();
    QCoreApplication::processEvents();
    QVERIFY(!camera.hasUnacceptedViewer());
}

// The system's own lookup, for the one name that never leaves the machine.
void TestConnection::systemLookupOfLocalhost()
{
    if (!localhostFromHostsFile())
        QSKIP("localhost is not answered from the hosts file here");

    LoopbackCamera camera;
    QVERIFY(camera.listen());
    clickStart(*widget, kHostName, QString::number(camera.port()));

    QCOMPARE(log->debugLines(), QStringList {"Connection successfully!"});
    QVERIFY(camera.waitForViewer());
}

QTEST_MAIN(TestConnection)
#include "tst_connection.moc"
