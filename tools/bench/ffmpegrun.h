// SPDX-License-Identifier: MIT
#ifndef FFMPEGRUN_H
#define FFMPEGRUN_H

#include <QString>

// ffmpeg decoding the stream of a camera on 127.0.0.1:port, one thread,
// into nothing: the comparison from outside Qt.
struct FfmpegRun
{
    bool ok = false;
    long frames = 0;
    double cpuMs = 0.0;
    double seconds = 0.0;
    QString error; // ffmpeg's last line when it failed
};

FfmpegRun runFfmpeg(const QString &ffmpeg, quint16 port, long frames);

#endif // FFMPEGRUN_H
