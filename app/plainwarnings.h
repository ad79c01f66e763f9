// SPDX-License-Identifier: MIT
#ifndef PLAINWARNINGS_H
#define PLAINWARNINGS_H

#include <QtGlobal>

QT_BEGIN_NAMESPACE
class QString;
QT_END_NAMESPACE

// Qt 6 files some of its warnings under logging categories that Qt 5 logged
// them without (connectSlotsByName's, the JPEG reader's), and its message
// handler prints a category's name in front of each line. While one of these
// lives, the messages of its category go on as plain ones, in the default
// category, which Qt's handler prints bare: the log reads the same under both.
class PlainWarnings
{
public:
    explicit PlainWarnings(const char *category);
    ~PlainWarnings();
    PlainWarnings(const PlainWarnings &) = delete;
    PlainWarnings &operator=(const PlainWarnings &) = delete;

private:
    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &message);
    void pass(QtMsgType type, const QMessageLogContext &context, const QString &message) const;

    const char *const category;
    PlainWarnings *const enclosing;
    QtMessageHandler outer;
};

#endif // PLAINWARNINGS_H
