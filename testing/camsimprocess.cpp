// SPDX-License-Identifier: MIT
#include "camsimprocess.h"

#include <QDeadlineTimer>
#include <QRegularExpression>

namespace {

constexpr int kStartTimeoutMs = 10000;
constexpr int kStopTimeoutMs = 5000;

} // namespace

CamsimProcess::~CamsimProcess()
{
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(kStopTimeoutMs);
    }
}

bool CamsimProcess::start(const QStringList &args)
{
    stop();
    port = 0;
    if (discardErrors)
        process.setStandardErrorFile(QProcess::nullDevice());
    process.start(program,
                  QStringList(args) << "--listen"
                                    << "127.0.0.1"
                                    << "--port"
                                    << "0");
    if (!process.waitForStarted(kStartTimeoutMs))
        return false;
    static const QRegularExpression listening("^listening on 127\\.0\\.0\\.1:(\\d+)$");
    QDeadlineTimer deadline(kStartTimeoutMs);
    while (!deadline.hasExpired()) {
        while (process.canReadLine()) {
            const QString line = QString::fromUtf8(process.readLine()).trimmed();
            const QRegularExpressionMatch m = listening.match(line);
            if (m.hasMatch()) {
                port = quint16(m.captured(1).toUInt());
                return port != 0;
            }
        }
        if (process.state() == QProcess::NotRunning)
            return false;
        process.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
    }
    return false;
}

void CamsimProcess::stop()
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(kStopTimeoutMs)) {
        process.kill();
        process.waitForFinished(kStopTimeoutMs);
    }
}

bool CamsimProcess::waitForExit(int timeoutMs)
{
    return process.state() == QProcess::NotRunning || process.waitForFinished(timeoutMs);
}

QString CamsimProcess::errorOutput()
{
    errors += QString::fromUtf8(process.readAllStandardError());
    return errors;
}
