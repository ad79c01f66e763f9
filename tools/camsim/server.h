// SPDX-License-Identifier: MIT
#ifndef SERVER_H
#define SERVER_H

#include "options.h"

#include <QElapsedTimer>
#include <QObject>
#include <QRandomGenerator>
#include <QTimer>

#include <deque>
#include <memory>
#include <vector>

QT_BEGIN_NAMESPACE
class QFile;
class QTcpServer;
class QTcpSocket;
QT_END_NAMESPACE

class PictureSource;

// The camera's side of the connection: accepts clients and feeds each its
// own stream of the frames the picture source makes.
class CamServer : public QObject
{
    Q_OBJECT

public:
    CamServer(const CamsimOptions &options, PictureSource *source, QObject *parent = nullptr);
    ~CamServer() override;

    bool openSendLog(QString *error);
    bool listen(QString *error);
    // "ADDRESS:PORT" actually bound, the port filled in when 0 was asked for.
    QString boundAddress() const;

    // Closes every connection at once and prints a last status line.
    void stop();

signals:
    // The --frames limit was reached and every connection has been closed.
    void finished();

private:
    struct Frame;
    struct Client;

    void onNewConnection();
    void onBytesWritten(Client *client);
    void onDisconnected(Client *client);
    void removeGoneClients();

    void tick();
    std::shared_ptr<Frame> makeFrame();
    void offer(Client *client, const std::shared_ptr<Frame> &frame);
    void enqueue(Client *client, const QByteArray &bytes);
    void pump(Client *client);
    void schedulePump(Client *client);
    void account(Client *client);
    bool anyPumpBehind() const;
    void resumeClock();
    void closeWhenFlushed(Client *client);
    void scheduleServeIdle();
    void serveIdle();
    void finish();

    qint64 backlog(const Client *client) const;
    bool isIdle(const Client *client) const;
    void printStatus();

    const CamsimOptions options;
    PictureSource *const source;
    QTcpServer *server;
    QFile *sendLog = nullptr;
    std::vector<std::unique_ptr<Client>> clients;
    std::shared_ptr<Frame> latest;
    quint64 framesMade = 0;
    bool finishing = false;
    bool serveScheduled = false;
    quint32 nextClientId = 0;
    QRandomGenerator seeds;

    // The frame clock: frame k of a run is due at start + k periods.
    QTimer clock;
    QElapsedTimer clockStart;
    qint64 clockTicks = 0;
    bool clockHeld = false; // --frames: waiting for the simulator's own writes

    QTimer statusTimer;
    QElapsedTimer statusInterval;
    quint64 framesAtLastStatus = 0;
    qint64 kernelBytes = 0; // handed to the kernel, all clients together
    qint64 kernelBytesAtLastStatus = 0;
    qint64 framesSent = 0;
    qint64 framesSkipped = 0;
};

#endif // SERVER_H
