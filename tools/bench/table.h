// SPDX-License-Identifier: MIT
#ifndef TABLE_H
#define TABLE_H

#include <QString>
#include <QStringList>

// The benchmark's one Markdown table: measurement, result, target or note.
class Table
{
public:
    void section(const QString &title);
    void row(const QString &what, const QString &value, const QString &note = QString());
    void print() const;

private:
    QStringList rows;
};

QString fixed(double value, int decimals);

// How much value is above (+) or below (-) reference, in percent.
QString signedPercent(double value, double reference);

// "met", or a bold "missed" that stands out in the table.
QString verdict(bool met);

// The processor, its cores and the load when the run began: numbers from a
// busy machine are not comparable with an idle one's.
QString machineDescription();

#endif // TABLE_H
