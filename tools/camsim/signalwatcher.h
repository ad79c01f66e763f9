// SPDX-License-Identifier: MIT
#ifndef SIGNALWATCHER_H
#define SIGNALWATCHER_H

#include <QObject>

QT_BEGIN_NAMESPACE
class QSocketNotifier;
QT_END_NAMESPACE

// Turns SIGINT and SIGTERM into a Qt signal on the event loop. The handler
// only writes the signal number to a socket pair, which is safe inside a
// signal handler; the rest happens in the loop. On Windows, Ctrl+C and
// Ctrl+Break in the console arrive as SIGINT and SIGTERM.
class SignalWatcher : public QObject
{
    Q_OBJECT

public:
    explicit SignalWatcher(QObject *parent = nullptr);
    ~SignalWatcher() override;

    bool install(QString *error);

signals:
    void received(int signalNumber);

#ifndef Q_OS_WIN
private:
    void onReadable();

    QSocketNotifier *notifier = nullptr;
#endif
};

#endif // SIGNALWATCHER_H
