// SPDX-License-Identifier: MIT
#ifndef LOGCAPTURE_H
#define LOGCAPTURE_H

#include "logging.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <atomic>
#include <mutex>

// Records every message the program's message handler sees while it lives,
// as the handler passes it on, and lets it go on to be printed. Lets a test
// assert the exact lines the viewer logs, including that it logs nothing.
// Messages may come from any thread.
//
// The program's handler is set up on first use. It must then sit above
// QTest's, which passes nothing on: a test that ran main() before QTest::qExec
// (mainrunner.h) has it below, and reads what main logged instead.
class LogCapture : public LogSink
{
public:
    struct Line
    {
        QtMsgType type;
        QString category;
        QString text;
    };

    LogCapture()
    {
        setUpLogging();
        enclosing = setLogSink(this);
    }
    // Leaves setting up the handler to the code under test: sees nothing if
    // that sets up none.
    enum AttachOnly { attachOnly };
    explicit LogCapture(AttachOnly) : enclosing(setLogSink(this)) { }
    ~LogCapture() override { setLogSink(enclosing); }
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    // The debug-level lines of the default category, the only kind the
    // viewer writes for its events.
    QStringList debugLines() const
    {
        QStringList result;
        for (const Line &line : lines()) {
            if (line.type == QtDebugMsg && line.category == QLatin1String("default"))
                result << line.text;
        }
        return result;
    }

    // Every line that is not a debug line, whatever its category.
    QStringList otherLines() const
    {
        QStringList result;
        for (const Line &line : lines()) {
            if (line.type != QtDebugMsg || line.category != QLatin1String("default"))
                result << line.text;
        }
        return result;
    }

    // Every line as "<type> <category>: <text>", the type as QtMsgType's number.
    QStringList all() const
    {
        QStringList result;
        for (const Line &line : lines())
            result << QString::number(line.type) + ' ' + line.category + ": " + line.text;
        return result;
    }

    int count(const QString &text) const { return debugLines().count(text); }

    QList<Line> lines() const
    {
        const std::lock_guard<std::mutex> locked(lock);
        return recorded;
    }

    void clear()
    {
        const std::lock_guard<std::mutex> locked(lock);
        recorded.clear();
    }

    // Whether messages also go on to be printed (and to QTest, which
    // ignoreMessage needs).
    std::atomic<bool> forward {true};

private:
    bool receive(QtMsgType type, const QMessageLogContext &context, const QString &text) override
    {
        const std::lock_guard<std::mutex> locked(lock);
        recorded.append(
            {type, QString::fromLatin1(context.category ? context.category : ""), text});
        return forward;
    }

    mutable std::mutex lock;
    QList<Line> recorded;
    LogSink *enclosing;
};

#endif // LOGCAPTURE_H
