// End-to-end benchmark: the real viewer window, offscreen, fed by the camera
// simulator over loopback, beside the decode floors (Qt alone, libjpeg-turbo
// alone) and ffmpeg on the same frames; then latency at 30 frames a second.
// Prints one Markdown table, folding in the stream micro benchmark's results
// when given its JSON output.

#include "frames.h"
#include "pacedcamera.h"
#include "widget.h"
#include "widgetform.h"
#include "widgettestaccess.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <turbojpeg.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>

namespace {

using Clock = PacedCamera::Clock;

double cpuMs(int who)
{
    rusage usage {};
    getrusage(who, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3
        + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

// All of the viewer's work happens on this (the GUI) thread, and so does the
// kernel's copy of received bytes, which is charged to the reading thread.
double threadCpuMs()
{
    return cpuMs(RUSAGE_THREAD);
}

void discardMessages(QtMsgType, const QMessageLogContext &, const QString &) { }

void progress(const QString &text)
{
    std::fprintf(stderr, "%s\n", qPrintable(text));
}

double median(std::vector<double> values)
{
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    // Nearest rank: the smallest value with at least p of the samples at or below it.
    const size_t rank = size_t(std::ceil(p * double(values.size())));
    return values[std::clamp<size_t>(rank, 1, values.size()) - 1];
}

void runEventLoopFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// ---------------------------------------------------------------- decode floors

// CPU per frame of a decode loop that runs for at least minMs of CPU.
template<typename Decode> double decodeLoopMs(const FrameSet &frames, double minMs, Decode decode)
{
    const double start = threadCpuMs();
    long decoded = 0;
    double used = 0.0;
    while (used < minMs) {
        for (const QByteArray &frame : frames)
            decode(frame);
        decoded += long(frames.size());
        used = threadCpuMs() - start;
    }
    return used / double(decoded);
}

double qtDecodeMs(const FrameSet &frames, double minMs)
{
    QImage image;
    return decodeLoopMs(frames, minMs, [&image](const QByteArray &frame) {
        image.loadFromData(reinterpret_cast<const uchar *>(frame.constData()), frame.size());
        if (image.isNull())
            qFatal("Qt could not decode a benchmark frame");
    });
}

double turboDecodeMs(const FrameSet &frames, double minMs)
{
    tjhandle handle = tjInitDecompress();
    std::vector<unsigned char> pixels;
    const double ms = decodeLoopMs(frames, minMs, [&](const QByteArray &frame) {
        auto *jpeg = reinterpret_cast<const unsigned char *>(frame.constData());
        int width = 0, height = 0, subsampling = 0, colorspace = 0;
        if (tjDecompressHeader3(handle, jpeg, frame.size(), &width, &height, &subsampling,
                                &colorspace)
            != 0)
            qFatal("libjpeg-turbo could not read a benchmark frame's header");
        pixels.resize(size_t(width) * size_t(height) * 4);
        if (tjDecompress2(handle, jpeg, frame.size(), pixels.data(), width, 0, height, TJPF_BGRX, 0)
            != 0)
            qFatal("libjpeg-turbo could not decode a benchmark frame");
    });
    tjDestroy(handle);
    return ms;
}

// The view's own decode step (Orvex::showFrame) on a window that is not shown,
// so no paint follows.
double showFrameMs(const FrameSet &frames, double minMs)
{
    Widget window;
    Orvex *view = WidgetTestAccess::view(window);
    return decodeLoopMs(frames, minMs, [view](const QByteArray &frame) {
        view->showFrame(frame.constData(), frame.size());
    });
}

// One repaint of the view showing a frame, with what the window draws below it.
double paintMs(const QByteArray &frame, double minMs)
{
    Widget window;
    window.show();
    Orvex *view = WidgetTestAccess::view(window);
    view->showFrame(frame.constData(), frame.size());
    QCoreApplication::processEvents();
    return decodeLoopMs(FrameSet {frame}, minMs, [view](const QByteArray &) { view->repaint(); });
}

// ---------------------------------------------------------------- the viewer

// Watches the view's paints: runs each paint itself so that it can note the
// time the paint ended, and which frame the display buffer (hence the picture)
// held.
class PaintProbe : public QObject
{
public:
    struct Paint
    {
        Clock::time_point end;
        std::uint32_t sequence;
        bool tagged;
    };

    // Called after a paint that showed another frame than the paint before.
    std::function<void(std::uint32_t)> onNewFrame;

    explicit PaintProbe(Widget &window) : window(window)
    {
        WidgetTestAccess::view(window)->installEventFilter(this);
    }
    ~PaintProbe() override { WidgetTestAccess::view(window)->removeEventFilter(this); }

    std::vector<Paint> paints;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::Paint)
            return false;
        // QObject::event is public; the widget's override does the painting.
        static_cast<QObject *>(watched)->event(event);
        Paint paint {Clock::now(), 0, false};
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

struct ViewerRun
{
    double seconds = 0.0;
    double cpuMs = 0.0;
    long shown = 0; // paints that showed a frame not shown before
    long decoded = 0; // frames handed to the view, shown or not
    std::vector<PaintProbe::Paint> paints;
};

bool connectViewer(Widget &window, quint16 port)
{
    WidgetForm *form = WidgetTestAccess::form(window);
    form->lineEdit_ip->setText("127.0.0.1");
    form->lineEdit_port->setText(QString::number(port));
    form->pushButton->click();
    return WidgetTestAccess::socket(window)->state() == QAbstractSocket::ConnectedState;
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

// Runs a shown viewer window against a camera on port for warmUpMs, then
// measures for measureMs. Frames decoded are counted from the frame numbers
// the paints show, or, when a camera repeats its frames (replaying frames,
// cycling through them in order), from the bytes taken: between two paints
// the numbers may have gone round more than once.
ViewerRun runViewer(quint16 port, int warmUpMs, int measureMs, const FrameSet *replayed,
                    std::function<void(std::uint32_t)> onNewFrame = nullptr)
{
    ViewerRun run;
    Widget window;
    window.show();
    PaintProbe probe(window);
    probe.onNewFrame = std::move(onNewFrame);
    if (!connectViewer(window, port)) {
        progress("viewer could not connect");
        return run;
    }
    QTcpSocket *socket = WidgetTestAccess::socket(window);
    runEventLoopFor(warmUpMs);
    const size_t first = probe.paints.size();
    const qint64 bytesBefore = bytesTaken(socket);
    QElapsedTimer wall;
    wall.start();
    const double cpuStart = threadCpuMs();
    runEventLoopFor(measureMs);
    run.cpuMs = threadCpuMs() - cpuStart;
    run.seconds = double(wall.nsecsElapsed()) / 1e9;
    const qint64 bytesAfter = bytesTaken(socket);
    const size_t last = probe.paints.size();
    WidgetTestAccess::form(window)->pushButton->click();

    bool havePrevious = first > 0 && probe.paints[first - 1].tagged;
    std::uint32_t previous = havePrevious ? probe.paints[first - 1].sequence : 0;
    for (size_t i = first; i < last; ++i) {
        const PaintProbe::Paint &paint = probe.paints[i];
        run.paints.push_back(paint);
        if (!paint.tagged || (havePrevious && paint.sequence == previous))
            continue;
        ++run.shown;
        run.decoded += havePrevious ? long(paint.sequence - previous) : 1;
        previous = paint.sequence;
        havePrevious = true;
    }
    if (replayed) {
        qint64 cycleBytes = 0;
        for (const QByteArray &frame : *replayed)
            cycleBytes += frame.size() + 8; // with the start and end markers
        run.decoded = bytesBefore < 0 || bytesAfter < 0
            ? -1
            : long(double(bytesAfter - bytesBefore) * double(replayed->size())
                   / double(cycleBytes));
    }
    return run;
}

// ---------------------------------------------------------------- the simulator

class Simulator
{
public:
    explicit Simulator(QString program) : program(std::move(program)) { }
    ~Simulator() { stop(); }

    // Starts it with the given options plus --port 0; returns the port it
    // listens on, or 0.
    quint16 start(const QStringList &options)
    {
        stop();
        process.reset(new QProcess);
        // Its status lines would fill a pipe nobody reads and stall it.
        process->setStandardErrorFile(QProcess::nullDevice());
        process->start(program, QStringList {"--port", "0"} + options);
        if (!process->waitForStarted(5000))
            return 0;
        QByteArray output;
        // "listening on 127.0.0.1:PORT": the port is the line's last number.
        static const QRegularExpression number("(\\d+)\\s*$");
        while (process->waitForReadyRead(5000)) {
            output += process->readAllStandardOutput();
            const int newline = output.indexOf('\n');
            if (newline >= 0) {
                const auto match = number.match(QString::fromUtf8(output.left(newline)));
                return match.hasMatch() ? quint16(match.captured(1).toUInt()) : 0;
            }
        }
        return 0;
    }

    void stop()
    {
        if (!process)
            return;
        process->terminate();
        if (!process->waitForFinished(3000)) {
            process->kill();
            process->waitForFinished(3000);
        }
        process.reset();
    }

private:
    QString program;
    std::unique_ptr<QProcess> process;
};

// Reads count frames of the simulator's own picture straight off its stream.
FrameSet captureFrames(quint16 port, int count)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(3000))
        return {};
    QByteArray stream;
    FrameSet frames;
    while (int(frames.size()) < count && socket.waitForReadyRead(3000)) {
        stream += socket.readAll();
        for (QByteArray &frame : cutFrames(&stream))
            frames.push_back(withoutSequence(frame));
    }
    socket.abort();
    frames.resize(std::min<size_t>(frames.size(), size_t(count)));
    return frames;
}

// ---------------------------------------------------------------- ffmpeg

struct FfmpegRun
{
    bool ok = false;
    long frames = 0;
    double cpuMs = 0.0;
    double seconds = 0.0;
    QString error;
};

FfmpegRun runFfmpeg(const QString &ffmpeg, quint16 port, long frames)
{
    FfmpegRun run;
    QProcess process;
    process.start(ffmpeg,
                  {"-hide_banner", "-nostdin", "-benchmark", "-threads", "1", "-f", "mjpeg",
                   "-err_detect", "explode", "-i", QString("tcp://127.0.0.1:%1").arg(port),
                   "-frames:v", QString::number(frames), "-f", "null", "-"});
    if (!process.waitForFinished(120000)) {
        process.kill();
        process.waitForFinished();
        run.error = "did not finish";
        return run;
    }
    const QString log = QString::fromUtf8(process.readAllStandardError());
    static const QRegularExpression bench(
        "bench: utime=([0-9.]+)s stime=([0-9.]+)s rtime=([0-9.]+)s");
    static const QRegularExpression frameCount("frame=\\s*(\\d+)");
    const auto times = bench.match(log);
    auto counts = frameCount.globalMatch(log);
    while (counts.hasNext())
        run.frames = counts.next().captured(1).toLong();
    if (process.exitCode() != 0 || !times.hasMatch() || run.frames == 0) {
        run.error = log.trimmed().section('\n', -1);
        return run;
    }
    run.cpuMs = (times.captured(1).toDouble() + times.captured(2).toDouble()) * 1e3;
    run.seconds = times.captured(3).toDouble();
    run.ok = true;
    return run;
}

// ---------------------------------------------------------------- table

class Table
{
public:
    void section(const QString &title) { rows << QString("| **%1** | | |").arg(title); }
    void row(const QString &what, const QString &value, const QString &note = QString())
    {
        rows << QString("| %1 | %2 | %3 |").arg(what, value, note);
    }
    void print() const
    {
        std::printf("| measurement | result | target or note |\n|---|---:|---|\n");
        for (const QString &r : rows)
            std::printf("%s\n", qPrintable(r));
        std::fflush(stdout);
    }

private:
    QStringList rows;
};

QString fixed(double value, int decimals)
{
    return QString::number(value, 'f', decimals);
}

QString verdict(bool met)
{
    return met ? "met" : "**missed**";
}

void addStreamRows(Table &table, const QString &jsonPath)
{
    QFile file(jsonPath);
    if (!file.open(QIODevice::ReadOnly)) {
        table.row("stream benchmark", "not run", jsonPath);
        return;
    }
    QHash<QString, QJsonObject> results;
    for (const QJsonValue &value :
         QJsonDocument::fromJson(file.readAll())["benchmarks"].toArray()) {
        const QJsonObject b = value.toObject();
        // With repetitions, keep the median; without, the single run.
        QString name = b["name"].toString();
        if (b["aggregate_name"].toString() == "median")
            name = b["run_name"].toString();
        else if (b.contains("aggregate_name"))
            continue;
        results[name] = b;
    }
    auto cpuSeconds = [&](const QString &name) {
        const QJsonObject b = results[name];
        const QString unit = b["time_unit"].toString();
        const double scale = unit == "ms" ? 1e-3 : unit == "us" ? 1e-6 : 1e-9;
        return b["cpu_time"].toDouble() * scale;
    };
    auto gbps
        = [&](const QString &name) { return results[name]["bytes_per_second"].toDouble() / 1e9; };
    auto allocs = [&](const QString &name) { return results[name]["allocs/frame"].toDouble(); };

    const double floor = gbps("BM_MemcpyFloor");
    const double rejected = gbps("BM_RecogniserRejectedFrames");
    const double goodBytes = results["BM_RecogniserGoodFrames"]["bytes_per_second"].toDouble()
        * cpuSeconds("BM_RecogniserGoodFrames");
    const double goodExDecode = goodBytes
        / (cpuSeconds("BM_RecogniserGoodFrames") - cpuSeconds("BM_ShowFrameOnly")) / 1e9;
    const double recogniserAllocs = allocs("BM_RecogniserGoodFrames") - allocs("BM_ShowFrameOnly");

    table.section("Stream cutting (96 frames of 20-200 KB, 64 KB chunks)");
    table.row("memcpy of the same chunks (floor)", fixed(floor, 1) + " GB/s");
    table.row("recogniser, frames failing the check (no decode)", fixed(rejected, 2) + " GB/s",
              ">= 1 GB/s: " + verdict(rejected >= 1.0));
    table.row("recogniser, good frames, view's decode subtracted", fixed(goodExDecode, 2) + " GB/s",
              ">= 1 GB/s: " + verdict(goodExDecode >= 1.0));
    table.row("frame end: clear, check, log (3-byte frame, rejected)",
              fixed(cpuSeconds("BM_FrameEndRejected") * 1e6, 1) + " us",
              "a clear of all 1 MiB, for scale: " + fixed(cpuSeconds("BM_Clear1MiB") * 1e6, 1)
                  + " us");
    table.row("frame end: clear, check, copy (good, view's decode subtracted)",
              fixed((cpuSeconds("BM_FrameEndGood") - cpuSeconds("BM_ShowFrameTiny")) * 1e6, 1)
                  + " us");
    table.row("heap allocations per frame by the recogniser", fixed(recogniserAllocs, 2),
              "0 wanted: " + verdict(std::abs(recogniserAllocs) < 0.01)
                  + QString("; the view's decode makes %1, a \"Jpeg error\" line %2")
                        .arg(fixed(allocs("BM_ShowFrameOnly"), 0),
                             fixed(allocs("BM_RecogniserRejectedFrames"), 0)));
}

QString machineDescription()
{
    QString model = "unknown processor";
    QFile cpuinfo("/proc/cpuinfo");
    if (cpuinfo.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : cpuinfo.readAll().split('\n')) {
            if (line.startsWith("model name")) {
                model = QString::fromUtf8(line.mid(line.indexOf(':') + 1)).trimmed();
                break;
            }
        }
    }
    QString load = "?";
    QFile loadavg("/proc/loadavg");
    if (loadavg.open(QIODevice::ReadOnly))
        load = QString::fromUtf8(loadavg.readAll()).section(' ', 0, 2);
    return QString("%1, %2 cores, load average %3 at start")
        .arg(model)
        .arg(QThread::idealThreadCount())
        .arg(load);
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription("Orvex end-to-end benchmark");
    parser.addHelpOption();
    const QCommandLineOption camsimOption("camsim", "The camera simulator program.", "path");
    const QCommandLineOption ffmpegOption("ffmpeg", "ffmpeg to compare with (\"none\": skip).",
                                          "path", "ffmpeg");
    const QCommandLineOption streamOption("stream-json", "Stream benchmark results to include.",
                                          "file");
    const QCommandLineOption secondsOption("seconds", "Measuring time of each viewer run.", "s",
                                           "3");
    const QCommandLineOption latencyOption("latency-seconds", "Length of each 30 fps run.", "s",
                                           "10");
    const QCommandLineOption roundsOption(
        "rounds", "Rounds of the fast-rate part; medians are shown.", "n", "3");
    parser.addOptions(
        {camsimOption, ffmpegOption, streamOption, secondsOption, latencyOption, roundsOption});
    parser.process(app);
    qInstallMessageHandler(discardMessages);

    const int measureMs = int(parser.value(secondsOption).toDouble() * 1000);
    const int latencyMs = int(parser.value(latencyOption).toDouble() * 1000);
    const int rounds = std::max(1, parser.value(roundsOption).toInt());
    const QString ffmpeg = parser.value(ffmpegOption);
    const bool haveFfmpeg = ffmpeg != "none" && !QStandardPaths::findExecutable(ffmpeg).isEmpty();

    Table table;
    table.section("Machine: " + machineDescription());
    if (parser.isSet(streamOption))
        addStreamRows(table, parser.value(streamOption));

    QTemporaryDir scratch;
    Simulator simulator(parser.value(camsimOption));
    const bool haveSimulator = parser.isSet(camsimOption);

    struct Set
    {
        QString name;
        FrameSet frames;
    };
    std::vector<Set> sets;
    if (haveSimulator) {
        const quint16 port = simulator.start({"--fps", "0"});
        FrameSet pattern = port ? captureFrames(port, 60) : FrameSet();
        simulator.stop();
        if (pattern.empty()) {
            progress("could not read frames from the simulator");
            return 1;
        }
        sets.push_back({"simulator's test pattern", pattern});
    }
    sets.push_back({"noisy picture", makeNoisyFrames(30)});

    for (const Set &set : sets) {
        const QImage first = QImage::fromData(set.frames.front());
        qint64 bytes = 0;
        for (const QByteArray &frame : set.frames)
            bytes += frame.size();
        const qint64 average = bytes / qint64(set.frames.size());
        table.section(QString("%1: %2 frames, %3x%4, %5 KB average")
                          .arg(set.name)
                          .arg(set.frames.size())
                          .arg(first.width())
                          .arg(first.height())
                          .arg(average / 1024));

        // The simulator replays the frames numbered by their position, so a
        // paint tells how many frames were decoded since the one before.
        FrameSet tagged;
        for (size_t i = 0; i < set.frames.size(); ++i)
            tagged.push_back(withSequence(set.frames[i], std::uint32_t(i)));
        const QString directory = scratch.filePath(QString::number(&set - sets.data()));
        if (!writeFrameDirectory(tagged, directory)) {
            progress("cannot write frames to " + directory);
            return 1;
        }

        std::vector<double> qt, turbo, show, paint, viewerShown, viewerDecoded, viewerPerShown,
            viewerPerDecoded, ffmpegFps, ffmpegPerFrame, lockstepShown, lockstepPerShown;
        long lockstepUnshown = 0;
        QString ffmpegError;
        for (int round = 0; round < rounds; ++round) {
            progress(QString("%1, round %2: decode floors").arg(set.name).arg(round + 1));
            qt.push_back(qtDecodeMs(tagged, 1500));
            turbo.push_back(turboDecodeMs(tagged, 1500));
            show.push_back(showFrameMs(tagged, 1000));
            paint.push_back(paintMs(tagged.front(), 500));

            progress(QString("%1, round %2: viewer in lock-step").arg(set.name).arg(round + 1));
            {
                PacedCamera camera(set.frames, 0.0);
                const quint16 port = camera.listen();
                camera.start();
                const ViewerRun run
                    = runViewer(port, 500, measureMs, nullptr,
                                [&camera](std::uint32_t i) { camera.framePainted(i); });
                camera.stop();
                lockstepShown.push_back(run.shown / run.seconds);
                lockstepPerShown.push_back(run.shown ? run.cpuMs / run.shown : 0.0);
                lockstepUnshown = std::max(lockstepUnshown, run.decoded - run.shown);
            }

            if (!haveSimulator)
                continue;
            progress(QString("%1, round %2: viewer at the simulator's fastest rate")
                         .arg(set.name)
                         .arg(round + 1));
            const quint16 port = simulator.start({"--fps", "0", "--replay", directory});
            const ViewerRun run = runViewer(port, 500, measureMs, &tagged);
            simulator.stop();
            viewerShown.push_back(run.shown / run.seconds);
            viewerDecoded.push_back(run.decoded / run.seconds);
            viewerPerShown.push_back(run.shown ? run.cpuMs / run.shown : 0.0);
            viewerPerDecoded.push_back(run.decoded ? run.cpuMs / run.decoded : 0.0);

            if (haveFfmpeg) {
                progress(QString("%1, round %2: ffmpeg").arg(set.name).arg(round + 1));
                const quint16 ffport = simulator.start({"--fps", "0", "--replay", directory});
                const FfmpegRun f = runFfmpeg(ffmpeg, ffport, 600);
                simulator.stop();
                if (f.ok) {
                    ffmpegFps.push_back(f.frames / f.seconds);
                    ffmpegPerFrame.push_back(f.cpuMs / f.frames);
                } else {
                    ffmpegError = f.error;
                }
            }
        }

        const double qtMs = median(qt);
        const double perShown = median(viewerPerShown);
        const double perDecoded = median(viewerPerDecoded);
        table.row("libjpeg-turbo alone, to BGRX", fixed(median(turbo), 3) + " ms CPU/frame");
        table.row("Qt alone, QImage::loadFromData", fixed(qtMs, 3) + " ms CPU/frame",
                  "the floor for this design");
        table.row("Orvex::showFrame alone (size check and decode)",
                  fixed(median(show), 3) + " ms CPU/frame");
        table.row("one repaint of the view, window background included",
                  fixed(median(paint), 3) + " ms CPU");
        const double perLockstep = median(lockstepPerShown);
        table.row("Orvex in lock-step (next frame sent once the last is painted): frames shown",
                  fixed(median(lockstepShown), 1) + " /s",
                  lockstepUnshown ? QString("%1 frames decoded but not shown").arg(lockstepUnshown)
                                  : QString("every frame shown"));
        const double perLockstepUnpainted = perLockstep - median(paint);
        table.row("Orvex in lock-step: CPU per shown frame", fixed(perLockstep, 3) + " ms",
                  QString("%1% over Qt alone; <= 10%: %2")
                      .arg(fixed((perLockstep / qtMs - 1.0) * 100.0, 1),
                           verdict(perLockstep <= qtMs * 1.10)));
        table.row("the same less one repaint: receive, cut, check, copy, decode",
                  fixed(perLockstepUnpainted, 3) + " ms",
                  QString("%1% over Qt alone; <= 10%: %2")
                      .arg(fixed((perLockstepUnpainted / qtMs - 1.0) * 100.0, 1),
                           verdict(perLockstepUnpainted <= qtMs * 1.10)));
        if (!haveSimulator) {
            table.row("Orvex and ffmpeg at the fastest rate", "not run", "no --camsim given");
        } else {
            table.row("Orvex at the fastest rate: frames shown",
                      fixed(median(viewerShown), 1) + " /s",
                      fixed(median(viewerDecoded), 1) + " frames/s decoded");
            table.row("Orvex at the fastest rate: CPU per shown frame", fixed(perShown, 3) + " ms",
                      "a paint shows the last of the frames read at once");
            table.row(
                "Orvex at the fastest rate: CPU per decoded frame", fixed(perDecoded, 3) + " ms",
                QString("%1% over Qt alone").arg(fixed((perDecoded / qtMs - 1.0) * 100.0, 1)));
            if (!haveFfmpeg)
                table.row("ffmpeg", "not installed");
            else if (ffmpegPerFrame.empty())
                table.row("ffmpeg -threads 1", "failed", ffmpegError);
            else
                table.row("ffmpeg -threads 1 -f mjpeg -err_detect explode, to null",
                          fixed(median(ffmpegPerFrame), 3) + " ms CPU/frame",
                          fixed(median(ffmpegFps), 1) + " frames/s, start-up included");
        }

        progress(QString("%1: viewer at 30 frames/s").arg(set.name));
        PacedCamera camera(set.frames, 30.0);
        const quint16 port = camera.listen();
        camera.start();
        const ViewerRun paced = runViewer(port, 1000, latencyMs, nullptr);
        camera.stop();
        std::vector<double> latencies;
        std::uint32_t previous = 0;
        bool havePrevious = false;
        for (const PaintProbe::Paint &paint : paced.paints) {
            if (!paint.tagged || (havePrevious && paint.sequence == previous)
                || paint.sequence >= camera.sendTimes().size())
                continue;
            latencies.push_back(std::chrono::duration<double, std::milli>(
                                    paint.end - camera.sendTimes()[paint.sequence])
                                    .count());
            previous = paint.sequence;
            havePrevious = true;
        }
        const double p99 = percentile(latencies, 0.99);
        table.row("Orvex at 30 frames/s: CPU", fixed(paced.cpuMs / paced.seconds, 1) + " ms/s",
                  QString("%1 frames shown, %2 decoded").arg(paced.shown).arg(paced.decoded));
        table.row("latency, last byte sent to paint done: median",
                  fixed(median(latencies), 2) + " ms");
        table.row("latency: 99th percentile", fixed(p99, 2) + " ms",
                  "< 5 ms: " + verdict(!latencies.empty() && p99 < 5.0));
    }

    table.print();
    return 0;
}
