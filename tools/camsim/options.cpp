// SPDX-License-Identifier: MIT
#include "options.h"

#include <QCommandLineParser>
#include <QDir>
#include <QRegularExpression>

#include <cmath>
#include <limits>

namespace {

constexpr int kMaxSide = 8192;
constexpr int kMinWidth = 160;
constexpr int kMinHeight = 120;
constexpr double kMaxFps = 1000.0;
// A frame every 1000 s is slow enough for any test; much slower clocks would
// need intervals past what a timer can hold.
constexpr double kMinFps = 0.001;

const char kDescription[]
    = "A stand-in camera for Orvex. Every client that connects gets its own endless\n"
      "stream of JPEG pictures, each sent as J_S= <JPEG> J_E;. Nothing sent by a\n"
      "client is read.\n"
      "\n"
      "The picture is a test pattern (a moving ball, the frame number, the time of\n"
      "day, and the frame number again as a strip of black and white cells near the\n"
      "top), or the .jpg files of a folder in name order, looping, sent unchanged.\n"
      "Each frame is made once and shared by all clients.\n"
      "\n"
      "--bad-every, --oversize-every and --drop-after count the frames each client\n"
      "has been sent; --frames counts the frames made for all clients together, and\n"
      "the simulator exits once the last connection has taken them. Frames are made\n"
      "only while a client is connected, so the first client always sees frame 1.\n"
      "A client that does not keep up is skipped (frames are dropped for it, as a\n"
      "camera would) while more than two frames wait to be sent to it. With\n"
      "--frames, the clock waits when the simulator's own --chunk writes fall\n"
      "behind, so a client that keeps reading gets every frame.\n"
      "\n"
      "On start, one line \"listening on ADDRESS:PORT\" goes to standard output;\n"
      "status lines go to standard error. Exit codes: 0 done or stopped by Ctrl-C\n"
      "or SIGTERM, 1 cannot listen or write the send log, 2 invalid options.";

// The option names, kept together so the checks below read like the help.
struct Names
{
    QCommandLineOption listen {
        "listen",
        "Address to listen on (default 127.0.0.1; any other lets other machines connect).",
        "ADDRESS", "127.0.0.1"};
    QCommandLineOption port {"port", "TCP port (default 5000; 0 picks a free one).", "N", "5000"};
    QCommandLineOption size {"size", "Picture size of the test pattern (default 640x480).", "WxH",
                             "640x480"};
    QCommandLineOption fps {"fps",
                            "Frames per second, from 0.001 to 1000 (default 25; 0 sends each "
                            "client its next frame as soon as it has taken the last one).",
                            "F", "25"};
    QCommandLineOption quality {
        "quality", "JPEG quality of the test pattern, 0 to 100 (default 80).", "Q", "80"};
    QCommandLineOption replay {"replay", "Send the .jpg files of DIR instead of the test pattern.",
                               "DIR"};
    QCommandLineOption chunk {"chunk",
                              "Write each stream in pieces of N bytes, or of random sizes, each "
                              "its own TCP send, so that markers get split.",
                              "N|random"};
    QCommandLineOption junk {"junk", "Send a few junk bytes (never a marker) before each frame."};
    QCommandLineOption badEvery {"bad-every",
                                 "Make every K-th frame of a client not start with FF D8 FF "
                                 "(its first byte becomes 00).",
                                 "K"};
    QCommandLineOption oversizeEvery {
        "oversize-every",
        "Make every K-th frame of a client larger than 1 MiB (a valid "
        "JPEG padded with comment segments).",
        "K"};
    QCommandLineOption dropAfter {"drop-after", "Close each connection after N frames.", "N"};
    QCommandLineOption frames {"frames", "Stop after N frames, close all connections and exit.",
                               "N"};
    QCommandLineOption logSends {"log-sends",
                                 "Write one line \"FRAME MONOTONIC_NS\" to FILE when the last "
                                 "byte of a frame has been handed to the kernel (one line per "
                                 "client and frame; CLOCK_MONOTONIC).",
                                 "FILE"};
    QCommandLineOption seed {"seed", "Seed for --chunk random and --junk (default: random).", "N"};
    QCommandLineOption statusEvery {
        "status-every", "Milliseconds between status lines (default 1000; 0: none).", "MS", "1000"};
};

bool toInt(const QString &text, qint64 min, qint64 max, qint64 *value)
{
    bool ok = false;
    const qint64 v = text.toLongLong(&ok, 10);
    if (!ok || v < min || v > max)
        return false;
    *value = v;
    return true;
}

} // namespace

ParseResult parseOptions(const QStringList &args, CamsimOptions *options, QString *error,
                         QString *helpText)
{
    const Names n;
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(kDescription));
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    parser.addOptions({n.listen, n.port, n.size, n.fps, n.quality, n.replay, n.chunk, n.junk,
                       n.badEvery, n.oversizeEvery, n.dropAfter, n.frames, n.logSends, n.seed,
                       n.statusEvery});
    *helpText = parser.helpText();

    if (!parser.parse(args)) {
        *error = parser.errorText();
        return ParseResult::Error;
    }
    if (parser.isSet(help))
        return ParseResult::Help;
    if (parser.isSet(version))
        return ParseResult::Version;
    if (!parser.positionalArguments().isEmpty()) {
        *error = QString("unexpected argument '%1'").arg(parser.positionalArguments().first());
        return ParseResult::Error;
    }

    auto fail = [error](const QCommandLineOption &option, const QString &why) {
        *error = QString("--%1: %2").arg(option.names().first(), why);
        return ParseResult::Error;
    };
    qint64 v = 0;

    if (!options->listenAddress.setAddress(parser.value(n.listen)))
        return fail(n.listen, QString("'%1' is not an IP address").arg(parser.value(n.listen)));

    if (!toInt(parser.value(n.port), 0, 65535, &v))
        return fail(n.port, "must be a whole number from 0 to 65535");
    options->port = quint16(v);

    const QRegularExpression sizePattern("^(\\d{1,5})x(\\d{1,5})$");
    const QRegularExpressionMatch m = sizePattern.match(parser.value(n.size));
    if (!m.hasMatch())
        return fail(n.size, "must look like 640x480");
    options->size = QSize(m.captured(1).toInt(), m.captured(2).toInt());
    if (options->size.width() < kMinWidth || options->size.height() < kMinHeight
        || options->size.width() > kMaxSide || options->size.height() > kMaxSide)
        return fail(
            n.size,
            QString("must be from %1x%2 to %3x%3").arg(kMinWidth).arg(kMinHeight).arg(kMaxSide));

    bool ok = false;
    options->fps = parser.value(n.fps).toDouble(&ok);
    if (!ok || !std::isfinite(options->fps) || options->fps > kMaxFps
        || (options->fps != 0 && options->fps < kMinFps))
        return fail(n.fps,
                    QString("must be 0, or a number from %1 to %2").arg(kMinFps).arg(kMaxFps));

    if (!toInt(parser.value(n.quality), 0, 100, &v))
        return fail(n.quality, "must be a whole number from 0 to 100");
    options->quality = int(v);

    if (parser.isSet(n.replay)) {
        options->replayDir = parser.value(n.replay);
        if (!QDir(options->replayDir).exists())
            return fail(n.replay, QString("no folder '%1'").arg(options->replayDir));
    }

    if (parser.isSet(n.chunk)) {
        const QString c = parser.value(n.chunk);
        if (c == "random")
            options->randomChunks = true;
        else if (toInt(c, 1, 1 << 30, &v))
            options->chunk = int(v);
        else
            return fail(n.chunk, "must be a whole number of bytes from 1, or 'random'");
    }
    options->junk = parser.isSet(n.junk);

    // Counts of frames: unset means off, so a given value must be at least 1.
    auto count = [&parser](const QCommandLineOption &option, qint64 *target) {
        return !parser.isSet(option)
            || toInt(parser.value(option), 1, std::numeric_limits<qint32>::max(), target);
    };
    const QString countRule = "must be a whole number from 1";
    qint64 badEvery = 0;
    qint64 oversizeEvery = 0;
    if (!count(n.badEvery, &badEvery))
        return fail(n.badEvery, countRule);
    if (!count(n.oversizeEvery, &oversizeEvery))
        return fail(n.oversizeEvery, countRule);
    if (!count(n.dropAfter, &options->dropAfter))
        return fail(n.dropAfter, countRule);
    if (!count(n.frames, &options->frames))
        return fail(n.frames, countRule);
    options->badEvery = int(badEvery);
    options->oversizeEvery = int(oversizeEvery);

    options->logSendsPath = parser.value(n.logSends);
    if (parser.isSet(n.logSends) && options->logSendsPath.isEmpty())
        return fail(n.logSends, "needs a file name");

    if (parser.isSet(n.seed)) {
        if (!toInt(parser.value(n.seed), 0, std::numeric_limits<quint32>::max(), &v))
            return fail(n.seed, "must be a whole number from 0 to 4294967295");
        options->seed = quint32(v);
        options->seeded = true;
    }

    if (!toInt(parser.value(n.statusEvery), 0, 3600 * 1000, &v))
        return fail(n.statusEvery, "must be a whole number of milliseconds from 0");
    options->statusEveryMs = int(v);

    return ParseResult::Ok;
}
