// SPDX-License-Identifier: MIT
#include "ffmpegrun.h"

#include <QProcess>
#include <QRegularExpression>

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
