// SPDX-License-Identifier: MIT
#ifndef LOGCAPTURE_H
#define LOGCAPTURE_H

#include <QList>
#include <QString>
#include <QStringList>
#include <QtGlobal>

// Records every message that goes through Qt's message handler while it
// lives, and passes each one on to the handler it replaced. Lets a test
// assert the exact lines the viewer logs, including that it logs nothing.
class LogCapture
{
public:
    struct Line
    {
        QtMsgType type;
        QString category;
        QString text;
    };

    LogCapture() : previous(qInstallMessageHandler(&LogCapture::handle)) { current() = this; }
    ~LogCapture()
    {
        qInstallMessageHandler(previous);
        current() = nullptr;
    }
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    // The debug-level lines of the default category, the only kind the
    // viewer writes for its events.
    QStringList debugLines() const
    {
        QStringList result;
        for (const Line &line : lines) {
            if (line.type == QtDebugMsg && line.category == QLatin1String("default"))
                result << line.text;
        }
        return result;
    }

    // Every line that is not a debug line, whatever its category.
    QStringList otherLines() const
    {
        QStringList result;
        for (const Line &line : lines) {
            if (line.type != QtDebugMsg || line.category != QLatin1String("default"))
                result << line.text;
        }
        return result;
    }

    // Every line as "<type> <category>: <text>", the type as QtMsgType's number.
    QStringList all() const
    {
        QStringList result;
        for (const Line &line : lines)
            result << QString::number(line.type) + ' ' + line.category + ": " + line.text;
        return result;
    }

    int count(const QString &text) const { return debugLines().count(text); }
    void clear() { lines.clear(); }

    QList<Line> lines;
    // Whether messages also reach the handler that was there before.
    bool forward = true;

private:
    static LogCapture *&current()
    {
        static LogCapture *instance = nullptr;
        return instance;
    }

    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &text)
    {
        LogCapture *self = current();
        if (!self)
            return;
        self->lines.append(
            {type, QString::fromLatin1(context.category ? context.category : ""), text});
        if (self->forward && self->previous)
            self->previous(type, context, text);
    }

    QtMessageHandler previous;
};

#endif // LOGCAPTURE_H
