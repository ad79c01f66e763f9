// SPDX-License-Identifier: MIT
#ifndef OPTIONS_H
#define OPTIONS_H

#include <QHostAddress>
#include <QSize>
#include <QString>
#include <QStringList>

// Everything the command line decides, already checked.
struct CamsimOptions
{
    QHostAddress listenAddress = QHostAddress(QHostAddress::LocalHost);
    quint16 port = 5000;

    QSize size = QSize(640, 480);
    double fps = 25.0; // 0: each client gets its next frame once it has taken the last one
    int quality = 80;
    QString replayDir; // empty: the generated test pattern

    int chunk = 0; // 0: whole frames; >0: pieces of that many bytes
    bool randomChunks = false;
    bool junk = false;
    int badEvery = 0;
    int oversizeEvery = 0;
    qint64 dropAfter = 0;
    qint64 frames = 0; // 0: no end

    QString logSendsPath;
    quint32 seed = 0;
    bool seeded = false;
    int statusEveryMs = 1000;
};

enum class ParseResult { Ok, Help, Version, Error };

// Parses args (argv as strings, program name first). On Error, *error says
// what was wrong in one line that names the option.
ParseResult parseOptions(const QStringList &args, CamsimOptions *options, QString *error,
                         QString *helpText);

#endif // OPTIONS_H
