#ifndef SIGNALWATCHER_H
#define SIGNALWATCHER_H

#include <QObject>

QT_BEGIN_NAMESPACE
class QSocketNotifier;
QT_END_NAMESPACE

// Turns SIGINT and SIGTERM into a Qt signal on the event loop. The handler
// only writes the signal number to a socket pair, which is safe inside a
// signal handler; the rest happens in the loop.
class SignalWatcher : public QObject
{
    Q_OBJECT

public:
    explicit SignalWatcher(QObject *parent = nullptr);
    ~SignalWatcher() override;

    bool install(QString *error);

signals:
    void received(int signalNumber);

private:
    void onReadable();

    QSocketNotifier *notifier = nullptr;
};

#endif // SIGNALWATCHER_H
