// SPDX-License-Identifier: MIT
#ifndef LOGGING_H
#define LOGGING_H

#include <QtGlobal>

QT_BEGIN_NAMESPACE
class QString;
QT_END_NAMESPACE

// Installs the program's message handler; main calls it first, before any
// thread or window exists. Qt 6 files some of its warnings under logging
// categories that Qt 5 logged them without (connectSlotsByName's, the JPEG
// reader's), and its handler prints a category's name in front of each line.
// The program's handler passes those on in the default category, which Qt
// prints bare, so the log reads the same under both; every other message goes
// on untouched to the handler that was there before. Calls after the first do
// nothing.
void setUpLogging();

// Sees every message after setUpLogging's handler has reworded it, before it
// is printed. Called from whichever thread logs, one call at a time; it must
// not log itself.
class LogSink
{
public:
    virtual ~LogSink() = default;
    // Returns whether the message goes on to be printed.
    virtual bool receive(QtMsgType type, const QMessageLogContext &context, const QString &message)
        = 0;
};

// Makes sink (or none, for nullptr) the one that sees the messages and returns
// the one it replaces, which is not called any more once this returns.
LogSink *setLogSink(LogSink *sink);

#endif // LOGGING_H
