// SPDX-License-Identifier: MIT
#include "table.h"

#include <QFile>
#include <QThread>

#include <cstdio>

void Table::section(const QString &title)
{
    rows << QString("| **%1** | | |").arg(title);
}

void Table::row(const QString &what, const QString &value, const QString &note)
{
    rows << QString("| %1 | %2 | %3 |").arg(what, value, note);
}

void Table::print() const
{
    std::printf("| measurement | result | target or note |\n|---|---:|---|\n");
    for (const QString &r : rows)
        std::printf("%s\n", qPrintable(r));
    std::fflush(stdout);
}

QString fixed(double value, int decimals)
{
    return QString::number(value, 'f', decimals);
}

QString signedPercent(double value, double reference)
{
    const double percent = (value / reference - 1.0) * 100.0;
    return (percent >= 0 ? "+" : "") + fixed(percent, 1);
}

QString verdict(bool met)
{
    return met ? "met" : "**missed**";
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
