// SPDX-License-Identifier: MIT
#include "viewerrun.h"

#include "allocationcounter.h"
#include "stats.h"
#include "widgettestaccess.h"
#include "wire.h"

#include <QElapsedTimer>
#include <QEvent>
#include <QEventLoop>
#include <QTcpSocket>
#include <QTimer>

#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <cstdio>

namespace {

// Watches the view's paints: runs each paint itself so that it can note the
// time the paint ended, and which frame the display buffer (hence the picture)
// held.
class PaintProbe : public QObject
{
public:
    std::function<void(std::uint32_t)> onNewFrame;
    std::vector<Paint> paints;

    explicit PaintProbe(Widget &window) : window(window)
    {
        WidgetTestAccess::view(window)->installEventFilter(this);
    }
    ~PaintProbe() override { WidgetTestAccess::view(window)->removeEventFilter(this); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::Paint)
            return false;
        // QObject::event is public; the widget's override does the painting.
        static_cast<QObject *>(watched)->event(event);
        Paint paint;
        paint.end = std::chrono::steady_clock::now();
        paint.tagged = readSequence(WidgetTestAccess::displayBuffer(window), &paint.sequence);
        const bool fresh = paint.tagged
            && (paints.empty() || !paints.back().tagged
                || paints.back().sequence != paint.sequence);
        paints.push_back(paint);
        if (fresh && onNewFrame)
            onNewFrame(paint.sequence);
        return true;
    }

private:
    Widget &window;
};

void runEventLoopFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Bytes the viewer has taken from its socket: what the kernel received, less
// what still waits in the kernel and in the socket's own buffer.
qint64 bytesTaken(QTcpSocket *socket)
{
    const int fd = int(socket->socketDescriptor());
    tcp_info info {};
    socklen_t size = sizeof info;
    int queued = 0;
    if (fd < 0 || getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &size) != 0
        || ioctl(fd, FIONREAD, &queued) != 0)
        return -1;
    return qint64(info.tcpi_bytes_received) - queued - socket->bytesAvailable();
}

// Counts the new frames among paints first to last; received assumes the
// numbers went up by one per frame sent.
void countFrames(const std::vector<Paint> &paints, size_t first, size_t last, ViewerRun *run)
{
    bool havePrevious = first > 0 && paints[first - 1].tagged;
    std::uint32_t previous = havePrevious ? paints[first - 1].sequence : 0;
    for (size_t i = first; i < last; ++i) {
        const Paint &paint = paints[i];
        run->paints.push_back(paint);
        if (!paint.tagged || (havePrevious && paint.sequence == previous))
            continue;
        ++run->shown;
        run->received += havePrevious ? long(paint.sequence - previous) : 1;
        previous = paint.sequence;
        havePrevious = true;
    }
    run->painted = long(last - first);
}

// A shown viewer window, connected by a click on Start, with its paints watched.
class Session
{
public:
    Widget window;
    PaintProbe probe {window};
    bool connected = false;

    Session(quint16 port, std::function<void(std::uint32_t)> onNewFrame)
    {
        window.show();
        probe.onNewFrame = std::move(onNewFrame);
        clickStart(window, port);
        connected = socket()->state() == QAbstractSocket::ConnectedState;
        if (!connected)
            std::fprintf(stderr, "viewer could not connect\n");
    }
    ~Session() { WidgetTestAccess::form(window)->pushButton->click(); }

    QTcpSocket *socket() { return WidgetTestAccess::socket(window); }
    qint64 decodes() { return WidgetTestAccess::view(window)->decodeCount(); }
};

} // namespace

ViewerRun runViewer(quint16 port, int warmUpMs, int measureMs, const FrameSet *replayed,
                    std::function<void(std::uint32_t)> onNewFrame)
{
    ViewerRun run;
    Session session(port, std::move(onNewFrame));
    if (!session.connected)
        return run;
    run.connected = true;
    runEventLoopFor(warmUpMs);
    const size_t first = session.probe.paints.size();
    const qint64 bytesBefore = bytesTaken(session.socket());
    const qint64 decodesBefore = session.decodes();
    QElapsedTimer wall;
    wall.start();
    const double cpuStart = threadCpuMs();
    const long long allocationsBefore = allocationCount();
    runEventLoopFor(measureMs);
    run.cpuMs = threadCpuMs() - cpuStart;
    run.allocations = allocationCount() - allocationsBefore;
    run.seconds = double(wall.nsecsElapsed()) / 1e9;
    run.decoded = long(session.decodes() - decodesBefore);
    const qint64 bytesAfter = bytesTaken(session.socket());
    const size_t last = session.probe.paints.size();

    countFrames(session.probe.paints, first, last, &run);
    if (replayed) {
        qint64 cycleBytes = 0;
        for (const QByteArray &frame : *replayed)
            cycleBytes += framed(frame).size();
        run.received = bytesBefore < 0 || bytesAfter < 0
            ? -1
            : long(double(bytesAfter - bytesBefore) * double(replayed->size())
                   / double(cycleBytes));
    }
    return run;
}

ViewerRun runViewerUntil(quint16 port, int timeoutMs,
                         const std::function<bool(const std::vector<Paint> &)> &finished)
{
    ViewerRun run;
    Session session(port, nullptr);
    if (!session.connected)
        return run;
    run.connected = true;
    QElapsedTimer wall;
    wall.start();
    const double cpuStart = threadCpuMs();
    // The paints carry their own end times, so how often this looks at them
    // changes nothing measured.
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (finished(session.probe.paints) || wall.elapsed() > timeoutMs)
            loop.quit();
    });
    poll.start(5);
    loop.exec();
    run.cpuMs = threadCpuMs() - cpuStart;
    run.seconds = double(wall.nsecsElapsed()) / 1e9;
    run.decoded = long(session.decodes());
    countFrames(session.probe.paints, 0, session.probe.paints.size(), &run);
    run.received = 0;
    return run;
}
