// SPDX-License-Identifier: MIT
// End-to-end benchmark: the real viewer window, offscreen, fed by the camera
// simulator over loopback, beside the decode floors (Qt alone, libjpeg-turbo
// alone) and ffmpeg on the same frames; then latency at 30 frames a second,
// and after a flood.
// Prints one Markdown table, folding in the stream micro benchmark's results
// when given its JSON output.

#include "camsimprocess.h"
#include "decodefloors.h"
#include "ffmpegrun.h"
#include "frames.h"
#include "pacedcamera.h"
#include "stats.h"
#include "streamrows.h"
#include "table.h"
#include "viewerrun.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QImage>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>

namespace {

// What the benchmark measures on one set of frames.
struct FrameSetUnderTest
{
    QString name;
    FrameSet frames;
    // Numbered by their position, and written to directory for the
    // simulator to replay, so a paint tells how many frames were decoded
    // since the one before.
    FrameSet tagged;
    QString directory;
};

// One round's results on one set: the table shows the median of each.
struct Round
{
    double qtMs = 0.0;
    double turboMs = 0.0;
    double decodeMs = 0.0; // the view's decode step, over the kept picture
    double freshDecodeMs = 0.0; // the same into a new picture each frame
    double showFrameMs = 0.0;
    double paintMs = 0.0;

    // The viewer in lock-step with a camera that sends once the last frame is painted.
    double lockstepShownPerSecond = 0.0;
    double lockstepMsPerShown = 0.0;
    long lockstepUnshown = 0;

    // The viewer on the simulator at its fastest rate, if there is one.
    bool fastRan = false;
    double fastShownPerSecond = 0.0;
    double fastCpuMsPerSecond = 0.0;
    double fastReceivedPerSecond = 0.0;
    double fastDecodesPerPaint = 0.0;
    double fastMsPerShown = 0.0;
    // What is left of the viewer's CPU once its decodes and paints are
    // taken out, per frame that was received but never shown.
    double fastMsPerSuperseded = 0.0;

    FfmpegRun ffmpeg;
    double ffmpegFps = 0.0;
    double ffmpegMsPerFrame = 0.0;
};

struct Settings
{
    int measureMs = 3000;
    int latencyMs = 10000;
    int floodMs = 10000;
    int floodRuns = 20;
    int rounds = 3;
    QString ffmpeg; // empty: not there, or not wanted
    QRegularExpression kinds; // the kinds of frame to measure; empty: all
};

void progress(const QString &text)
{
    std::fprintf(stderr, "%s\n", qPrintable(text));
}

Round measureRound(const FrameSetUnderTest &set, CamsimProcess *simulator, const Settings &settings)
{
    Round round;
    round.qtMs = qtDecodeMs(set.tagged, 1500);
    round.turboMs = turboDecodeMs(set.tagged, 1500);
    round.decodeMs = decodeFrameMs(set.tagged, 1500, PictureStorage::Reused);
    round.freshDecodeMs = decodeFrameMs(set.tagged, 1500, PictureStorage::Fresh);
    round.showFrameMs = showFrameMs(set.tagged, 300);
    round.paintMs = paintMs(set.tagged.front(), 500);

    progress(set.name + ": viewer in lock-step");
    {
        PacedCamera camera(set.frames, 0.0);
        const quint16 port = camera.listen();
        camera.start();
        const ViewerRun run = runViewer(port, 500, settings.measureMs, nullptr,
                                        [&camera](std::uint32_t i) { camera.framePainted(i); });
        camera.stop();
        round.lockstepShownPerSecond = run.shown / run.seconds;
        round.lockstepMsPerShown = run.shown ? run.cpuMs / run.shown : 0.0;
        round.lockstepUnshown = run.received - run.shown;
    }

    if (!simulator)
        return round;
    progress(set.name + ": viewer at the simulator's fastest rate");
    const QStringList replay {"--fps", "0", "--replay", set.directory};
    const quint16 port = simulator->start(replay) ? simulator->port : 0;
    const ViewerRun run = runViewer(port, 500, settings.measureMs, &set.tagged);
    simulator->stop();
    round.fastRan = true;
    round.fastShownPerSecond = run.shown / run.seconds;
    round.fastReceivedPerSecond = run.received / run.seconds;
    round.fastCpuMsPerSecond = run.cpuMs / run.seconds;
    round.fastDecodesPerPaint = run.painted ? double(run.decoded) / run.painted : 0.0;
    round.fastMsPerShown = run.shown ? run.cpuMs / run.shown : 0.0;
    const long superseded = run.received - run.shown;
    round.fastMsPerSuperseded = superseded > 0
        ? (run.cpuMs - run.decoded * round.decodeMs - run.painted * round.paintMs) / superseded
        : 0.0;

    if (!settings.ffmpeg.isEmpty()) {
        progress(set.name + ": ffmpeg");
        const quint16 ffport = simulator->start(replay) ? simulator->port : 0;
        round.ffmpeg = runFfmpeg(settings.ffmpeg, ffport, 600);
        simulator->stop();
        if (round.ffmpeg.ok) {
            round.ffmpegFps = round.ffmpeg.frames / round.ffmpeg.seconds;
            round.ffmpegMsPerFrame = round.ffmpeg.cpuMs / round.ffmpeg.frames;
        }
    }
    return round;
}

void addRoundRows(Table &table, const std::vector<Round> &rounds, bool haveSimulator,
                  bool haveFfmpeg)
{
    const double qtMs = medianOf(rounds, &Round::qtMs);
    const double paint = medianOf(rounds, &Round::paintMs);
    table.row("libjpeg-turbo alone, to BGRX",
              fixed(medianOf(rounds, &Round::turboMs), 3) + " ms CPU/frame");
    table.row("Qt alone, QImage::loadFromData", fixed(qtMs, 3) + " ms CPU/frame",
              "the floor for this design");
    const double decode = medianOf(rounds, &Round::decodeMs);
    const double freshDecode = medianOf(rounds, &Round::freshDecodeMs);
    table.row("the view's decode step (header checks, decode over the kept picture)",
              fixed(decode, 3) + " ms CPU/frame",
              QString("into a new picture each frame: %1 ms (%2%)")
                  .arg(fixed(freshDecode, 3), signedPercent(freshDecode, decode)));
    table.row("Orvex::showFrame alone (the copy; the decode waits for a paint)",
              fixed(medianOf(rounds, &Round::showFrameMs) * 1e3, 1) + " us CPU/frame");
    table.row("one repaint of the view, no new frame, window background included",
              fixed(paint, 3) + " ms CPU");

    long unshown = 0;
    for (const Round &round : rounds)
        unshown = std::max(unshown, round.lockstepUnshown);
    const double perLockstep = medianOf(rounds, &Round::lockstepMsPerShown);
    table.row("Orvex in lock-step (next frame sent once the last is painted): frames shown",
              fixed(medianOf(rounds, &Round::lockstepShownPerSecond), 1) + " /s",
              unshown ? QString("%1 frames received but not shown").arg(unshown)
                      : QString("every frame shown"));
    const double perLockstepUnpainted = perLockstep - paint;
    table.row("Orvex in lock-step: CPU per shown frame", fixed(perLockstep, 3) + " ms",
              QString("%1% over Qt alone; <= 10%: %2")
                  .arg(signedPercent(perLockstep, qtMs), verdict(perLockstep <= qtMs * 1.10)));
    table.row("the same less one repaint: receive, cut, check, copy, decode",
              fixed(perLockstepUnpainted, 3) + " ms",
              QString("%1% over Qt alone; <= 10%: %2")
                  .arg(signedPercent(perLockstepUnpainted, qtMs),
                       verdict(perLockstepUnpainted <= qtMs * 1.10)));

    if (!haveSimulator) {
        table.row("Orvex and ffmpeg at the fastest rate", "not run", "no --camsim given");
        return;
    }
    const double lockstepRate = medianOf(rounds, &Round::lockstepShownPerSecond);
    const double fastRate = medianOf(rounds, &Round::fastShownPerSecond);
    double mostDecodesPerPaint = 0.0;
    for (const Round &round : rounds)
        mostDecodesPerPaint = std::max(mostDecodesPerPaint, round.fastDecodesPerPaint);
    const double perSuperseded = medianOf(rounds, &Round::fastMsPerSuperseded);
    table.row("Orvex at the fastest rate: frames painted", fixed(fastRate, 1) + " /s",
              QString("%1% of lock-step's %2 /s, using %3 ms CPU a second; >= 50%: %4")
                  .arg(fixed(fastRate / lockstepRate * 100.0, 0), fixed(lockstepRate, 1),
                       fixed(medianOf(rounds, &Round::fastCpuMsPerSecond), 0),
                       verdict(fastRate >= lockstepRate / 2)));
    table.row("Orvex at the fastest rate: decodes per paint",
              fixed(medianOf(rounds, &Round::fastDecodesPerPaint), 3),
              QString("most in a round %1; <= 1: %2")
                  .arg(fixed(mostDecodesPerPaint, 3), verdict(mostDecodesPerPaint <= 1.0)));
    table.row("Orvex at the fastest rate: frames received",
              fixed(medianOf(rounds, &Round::fastReceivedPerSecond), 1) + " /s",
              "all but the painted ones superseded before a paint");
    table.row("Orvex at the fastest rate: CPU per painted frame",
              fixed(medianOf(rounds, &Round::fastMsPerShown), 3) + " ms",
              "decode and paint, and the frames superseded in between");
    table.row("Orvex at the fastest rate: CPU per superseded frame",
              fixed(perSuperseded * 1e3, 1) + " us",
              QString("%1% of the view's decode step; <= 5%: %2")
                  .arg(fixed(perSuperseded / decode * 100.0, 1),
                       verdict(perSuperseded <= decode * 0.05)));

    std::vector<Round> ffmpegRounds;
    QString ffmpegError;
    for (const Round &round : rounds) {
        if (round.ffmpeg.ok)
            ffmpegRounds.push_back(round);
        else
            ffmpegError = round.ffmpeg.error;
    }
    if (!haveFfmpeg)
        table.row("ffmpeg", "not run", "not installed, or --ffmpeg none");
    else if (ffmpegRounds.empty())
        table.row("ffmpeg -threads 1", "failed", ffmpegError);
    else
        table.row("ffmpeg -threads 1 -f mjpeg -err_detect explode, to null",
                  fixed(medianOf(ffmpegRounds, &Round::ffmpegMsPerFrame), 3) + " ms CPU/frame",
                  fixed(medianOf(ffmpegRounds, &Round::ffmpegFps), 1)
                      + " frames/s, start-up included");
}

// The viewer against a camera at 30 frames a second: CPU, and the time from a
// frame's last byte leaving the camera to the end of the paint that shows it.
void addLatencyRows(Table &table, const FrameSetUnderTest &set, int latencyMs)
{
    progress(set.name + ": viewer at 30 frames/s");
    PacedCamera camera(set.frames, 30.0);
    const quint16 port = camera.listen();
    camera.start();
    const ViewerRun paced = runViewer(port, 1000, latencyMs, nullptr);
    camera.stop();
    std::vector<double> latencies;
    std::uint32_t previous = 0;
    bool havePrevious = false;
    for (const Paint &paint : paced.paints) {
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
              QString("%1 frames received, %2 shown, %3 decoded")
                  .arg(paced.received)
                  .arg(paced.shown)
                  .arg(paced.decoded));
    table.row("latency, last byte sent to paint done: median", fixed(median(latencies), 2) + " ms");
    table.row("latency: 99th percentile", fixed(p99, 2) + " ms",
              "< 5 ms: " + verdict(!latencies.empty() && p99 < 5.0));
}

// The camera floods the viewer, then sends one last frame: how long that
// frame takes to reach the screen once the viewer has a backlog, and how far
// the picture trails the camera meanwhile.
void addFloodRows(Table &table, const FrameSetUnderTest &set, const Settings &settings)
{
    std::vector<double> lastFrameMs;
    std::vector<double> ages;
    long lost = 0;
    long painted = 0;
    long shown = 0;
    long decoded = 0;
    double seconds = 0.0;
    for (int r = 0; r < settings.floodRuns; ++r) {
        progress(QString("%1: flood %2 of %3").arg(set.name).arg(r + 1).arg(settings.floodRuns));
        PacedCamera camera(set.frames, std::chrono::milliseconds(settings.floodMs));
        const quint16 port = camera.listen();
        camera.start();
        const ViewerRun run
            = runViewerUntil(port, settings.floodMs + 5000, [&camera](const std::vector<Paint> &p) {
                  const std::int64_t last = camera.lastFrame();
                  return last >= 0 && !p.empty() && p.back().tagged
                      && p.back().sequence == std::uint32_t(last);
              });
        camera.stop();
        const std::int64_t last = camera.lastFrame();
        const auto &sent = camera.sendTimes();
        bool reached = false;
        for (const Paint &paint : run.paints) {
            if (!paint.tagged || paint.sequence >= sent.size())
                continue;
            const double ms
                = std::chrono::duration<double, std::milli>(paint.end - sent[paint.sequence])
                      .count();
            if (std::int64_t(paint.sequence) == last) {
                lastFrameMs.push_back(ms);
                reached = true;
                break;
            }
            ages.push_back(ms);
        }
        lost += reached ? 0 : 1;
        painted += run.painted;
        shown += run.shown;
        decoded += run.decoded;
        seconds += run.seconds;
    }
    const QString runs
        = QString("%1 runs of %2 s").arg(settings.floodRuns).arg(settings.floodMs / 1e3);
    const double p99 = percentile(lastFrameMs, 0.99);
    table.row("flood, then one last frame: its last byte sent to the paint showing it, p99",
              fixed(p99, 1) + " ms",
              QString("%1; median %2 ms, most %3 ms%4; < 50 ms: %5")
                  .arg(runs, fixed(median(lastFrameMs), 1), fixed(percentile(lastFrameMs, 1.0), 1),
                       lost ? QString(", %1 never shown").arg(lost) : QString(),
                       verdict(!lastFrameMs.empty() && lost == 0 && p99 < 50.0)));
    table.row(
        "during the flood: age of the picture painted, median", fixed(median(ages), 1) + " ms",
        QString("p99 %1 ms; %2 frames painted /s, %3 decodes per paint")
            .arg(fixed(percentile(ages, 0.99), 1), fixed(seconds > 0 ? shown / seconds : 0.0, 1),
                 fixed(painted ? double(decoded) / painted : 0.0, 3)));
}

// Frames larger than the view: the view decodes only the part it shows,
// against a whole-frame decode by Qt and by libjpeg-turbo; and, for the
// largest, what a camera at 30 frames a second costs the viewer.
void addLargeFrameRows(Table &table, const Settings &settings)
{
    struct Size
    {
        QSize size;
        double target; // the view's step against Qt's whole decode; 0: none
        bool paced;
    };
    const Size sizes[] = {{QSize(800, 600), 0.0, false},
                          {QSize(1280, 720), 0.70, false},
                          {QSize(1600, 1200), 0.40, true}};
    for (const Size &s : sizes) {
        const QString name = QString("%1x%2").arg(s.size.width()).arg(s.size.height());
        progress("camera frames " + name);
        const FrameSet frames = makeCameraFrames(s.size, 8);
        qint64 bytes = 0;
        for (const QByteArray &frame : frames)
            bytes += frame.size();
        table.section(QString("camera frames larger than the view: %1 frames, %2 4:2:2, %3 KB "
                              "average")
                          .arg(frames.size())
                          .arg(name)
                          .arg(bytes / qint64(frames.size()) / 1024));
        std::vector<double> turbo, qt, view;
        for (int r = 0; r < settings.rounds; ++r) {
            turbo.push_back(turboDecodeMs(frames, 1000));
            qt.push_back(qtDecodeMs(frames, 1000));
            view.push_back(decodeFrameMs(frames, 1000, PictureStorage::Reused));
        }
        const double qtMs = median(qt);
        const double viewMs = median(view);
        table.row("libjpeg-turbo alone, whole frame to BGRX",
                  fixed(median(turbo), 3) + " ms CPU/frame");
        table.row("Qt alone, whole frame, QImage::loadFromData", fixed(qtMs, 3) + " ms CPU/frame");
        const QString share = fixed(viewMs / qtMs * 100.0, 0) + "% of Qt's whole-frame decode";
        table.row("the view's decode step (the 630x470 shown)", fixed(viewMs, 3) + " ms CPU/frame",
                  s.target > 0 ? QString("%1; <= %2%: %3")
                                     .arg(share, fixed(s.target * 100.0, 0),
                                          verdict(viewMs <= qtMs * s.target))
                               : share);
        if (!s.paced)
            continue;
        progress("camera frames " + name + ": viewer at 30 frames/s");
        PacedCamera camera(frames, 30.0);
        const quint16 port = camera.listen();
        camera.start();
        const ViewerRun run = runViewer(port, 1000, settings.latencyMs, nullptr);
        camera.stop();
        table.row("Orvex at 30 frames/s: CPU per frame received",
                  fixed(run.received ? run.cpuMs / run.received : 0.0, 3) + " ms",
                  QString("%1 ms/s; %2 frames received, %3 shown, %4 decoded")
                      .arg(fixed(run.cpuMs / run.seconds, 1))
                      .arg(run.received)
                      .arg(run.shown)
                      .arg(run.decoded));
    }
}

// One kind of frame a camera may send, and what the viewer may spend on it
// at 30 frames a second against libjpeg-turbo decoding the whole frame.
struct FrameKind
{
    QString name;
    std::function<FrameSet()> make;
    double mostRatio;
};

// Each kind of frame: the viewer's CPU per frame received at 30 frames a
// second, against libjpeg-turbo's whole decode of the same frames to BGRX,
// measured in the same round. Frames larger than the view need less than a
// whole decode, since only the part shown is decoded.
void addFrameKindRows(Table &table, const Settings &settings, CamsimProcess *simulator)
{
    auto simulated = [simulator](const QString &size) {
        return [simulator, size] {
            FrameSet frames;
            if (simulator && simulator->start({"--fps", "0", "--size", size}))
                frames = captureFrames(simulator->port, 30);
            if (simulator)
                simulator->stop();
            return frames;
        };
    };
    const FrameKind kinds[] = {
        {"plain 640x480 (the simulator's test pattern)", simulated("640x480"), 1.5},
        {"photo 720x477", [] { return makePhotoFrames(8); }, 1.5},
        {"HD 1280x720 4:2:2", [] { return makeCameraFrames(QSize(1280, 720), 8); }, 1.5},
        {"noisy progressive 640x480", [] { return makeNoisyFrames(8, true); }, 1.5},
        {"UXGA 1600x1200 4:2:2", [] { return makeCameraFrames(QSize(1600, 1200), 8); }, 0.6},
        {"small 320x240 (the simulator's test pattern)", simulated("320x240"), 1.5},
    };

    table.section("each kind of frame at 30 frames/s: the viewer's CPU per frame received, "
                  "against libjpeg-turbo's whole decode to BGRX (medians of "
                  + QString::number(settings.rounds) + " rounds)");
    for (const FrameKind &kind : kinds) {
        if (!kind.name.contains(settings.kinds))
            continue;
        const FrameSet frames = kind.make();
        if (frames.empty()) {
            table.row(kind.name, "not run", "no simulator given (--camsim)");
            continue;
        }
        qint64 bytes = 0;
        for (const QByteArray &frame : frames)
            bytes += frame.size();
        std::vector<double> viewer, turbo, allocations;
        for (int r = 0; r < settings.rounds; ++r) {
            progress(QString("%1: round %2").arg(kind.name).arg(r + 1));
            turbo.push_back(turboDecodeMs(frames, 1000));
            PacedCamera camera(frames, 30.0);
            const quint16 port = camera.listen();
            camera.start();
            const ViewerRun run = runViewer(port, 1000, settings.latencyMs, nullptr);
            camera.stop();
            viewer.push_back(run.received ? run.cpuMs / run.received : 0.0);
            allocations.push_back(run.received ? double(run.allocations) / run.received : 0.0);
        }
        const double viewerMs = median(viewer);
        const double turboMs = median(turbo);
        const double ratio = viewerMs / turboMs;
        table.row(QString("%1, %2 KB").arg(kind.name).arg(bytes / qint64(frames.size()) / 1024),
                  QString("%1 ms / %2 ms = %3x")
                      .arg(fixed(viewerMs, 3), fixed(turboMs, 3), fixed(ratio, 2)),
                  QString("<= %1x: %2; %3 heap allocations a frame")
                      .arg(fixed(kind.mostRatio, 1), verdict(ratio <= kind.mostRatio),
                           fixed(median(allocations), 1)));
    }
}

QString describe(const FrameSetUnderTest &set)
{
    const QImage first = QImage::fromData(set.frames.front());
    qint64 bytes = 0;
    for (const QByteArray &frame : set.frames)
        bytes += frame.size();
    return QString("%1: %2 frames, %3x%4, %5 KB average")
        .arg(set.name)
        .arg(set.frames.size())
        .arg(first.width())
        .arg(first.height())
        .arg(bytes / qint64(set.frames.size()) / 1024);
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
    const QCommandLineOption floodSecondsOption(
        "flood-seconds", "Length of each flood before its last frame.", "s", "10");
    const QCommandLineOption floodRunsOption("flood-runs", "Floods per picture (0: none).", "n",
                                             "20");
    const QCommandLineOption onlyLargeOption("only-large",
                                             "Only the rows of frames larger than the view.");
    const QCommandLineOption skipLargeOption("no-large",
                                             "Without the rows of frames larger than the view.");
    const QCommandLineOption onlyKindsOption(
        "only-kinds", "Only the viewer at 30 fps on each kind of frame against a whole decode.");
    const QCommandLineOption kindsOption(
        "kinds", "The kinds of frame measured: those whose name matches.", "pattern");
    parser.addOptions({camsimOption, ffmpegOption, streamOption, secondsOption, latencyOption,
                       roundsOption, floodSecondsOption, floodRunsOption, onlyLargeOption,
                       skipLargeOption, onlyKindsOption, kindsOption});
    parser.process(app);
    // The viewer's lines would mix with the progress and the table.
    QLoggingCategory::setFilterRules(QStringLiteral("*=false"));

    Settings settings;
    settings.measureMs = int(parser.value(secondsOption).toDouble() * 1000);
    settings.latencyMs = int(parser.value(latencyOption).toDouble() * 1000);
    settings.rounds = std::max(1, parser.value(roundsOption).toInt());
    settings.floodMs = int(parser.value(floodSecondsOption).toDouble() * 1000);
    settings.floodRuns = std::max(0, parser.value(floodRunsOption).toInt());
    settings.kinds.setPattern(parser.value(kindsOption));
    const QString ffmpeg = parser.value(ffmpegOption);
    if (ffmpeg != "none" && !QStandardPaths::findExecutable(ffmpeg).isEmpty())
        settings.ffmpeg = ffmpeg;

    Table table;
    table.section("Machine: " + machineDescription());
    if (parser.isSet(onlyLargeOption)) {
        addLargeFrameRows(table, settings);
        table.print();
        return 0;
    }
    if (parser.isSet(streamOption))
        addStreamRows(table, parser.value(streamOption));

    const bool haveSimulator = parser.isSet(camsimOption);
    CamsimProcess simulator(parser.value(camsimOption));
    // Its status lines would pile up unread.
    simulator.discardErrorOutput();
    addFrameKindRows(table, settings, haveSimulator ? &simulator : nullptr);
    if (parser.isSet(onlyKindsOption)) {
        table.print();
        return 0;
    }

    std::vector<FrameSetUnderTest> sets;
    if (haveSimulator) {
        const FrameSet pattern
            = simulator.start({"--fps", "0"}) ? captureFrames(simulator.port, 60) : FrameSet();
        simulator.stop();
        if (pattern.empty()) {
            progress("could not read frames from the simulator");
            return 1;
        }
        sets.push_back({"simulator's test pattern", pattern, {}, {}});
    }
    sets.push_back({"noisy picture", makeNoisyFrames(30), {}, {}});

    QTemporaryDir scratch;
    for (FrameSetUnderTest &set : sets) {
        for (size_t i = 0; i < set.frames.size(); ++i)
            set.tagged.push_back(withSequence(set.frames[i], std::uint32_t(i)));
        set.directory = scratch.filePath(QString::number(&set - sets.data()));
        if (!writeFrameDirectory(set.tagged, set.directory)) {
            progress("cannot write frames to " + set.directory);
            return 1;
        }

        table.section(describe(set));
        std::vector<Round> rounds;
        for (int r = 0; r < settings.rounds; ++r) {
            progress(QString("%1, round %2").arg(set.name).arg(r + 1));
            rounds.push_back(measureRound(set, haveSimulator ? &simulator : nullptr, settings));
        }
        addRoundRows(table, rounds, haveSimulator, !settings.ffmpeg.isEmpty());
        addLatencyRows(table, set, settings.latencyMs);
        if (settings.floodRuns > 0)
            addFloodRows(table, set, settings);
    }

    if (!parser.isSet(skipLargeOption))
        addLargeFrameRows(table, settings);

    table.print();
    return 0;
}
