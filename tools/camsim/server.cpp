// SPDX-License-Identifier: MIT
#include "server.h"

#include "faults.h"
#include "picturesource.h"
#include "wire.h"

#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>

#include <time.h>

namespace {

// A client more than this many frames behind is skipped until it catches up.
constexpr qint64 kMaxFramesWaiting = 2;
// Pieces written per client before the event loop gets a turn, so that one
// client on --chunk 1 does not starve the others or the frame clock.
constexpr int kPiecesPerTurn = 64;
// A closing connection that has taken nothing for this long is cut off: its
// peer has stopped reading, and the simulator should still be able to finish.
constexpr int kCloseStallMs = 5000;

qint64 monotonicNs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

} // namespace

// One frame as made by the picture source, and its wire forms, each built
// the first time a client needs it and then shared.
struct CamServer::Frame
{
    quint64 number = 0;
    QByteArray jpeg;
    QByteArray wire[4]; // index: 1 = broken start, 2 = oversize

    const QByteArray &bytes(bool broken, bool oversize)
    {
        QByteArray &w = wire[(broken ? 1 : 0) | (oversize ? 2 : 0)];
        if (w.isEmpty()) {
            QByteArray body = oversize ? Wire::oversize(jpeg) : jpeg;
            w = framed(broken ? Wire::breakStart(body) : body);
        }
        return w;
    }
};

// Also the context of every queued call and connection that touches it, so
// that none of them can run once it is gone.
struct CamServer::Client : QObject
{
    QTcpSocket *socket = nullptr;
    QRandomGenerator random;
    qint64 framesSent = 0;
    quint64 lastFrame = 0; // number of the newest frame this client has had or missed
    QByteArray pending; // --chunk: bytes not yet handed to the socket
    int pendingOffset = 0;
    qint64 toSocket = 0; // bytes handed to the socket, ever
    qint64 toKernel = 0; // of those, bytes the socket has handed to the kernel
    std::deque<std::pair<qint64, quint64>> frameEnds; // for --log-sends: (end offset, frame)
    bool closing = false;
    bool gone = false;
    bool pumpScheduled = false;
    std::unique_ptr<QTimer> closeWatchdog;
    qint64 toKernelAtWatch = 0;
};

CamServer::CamServer(const CamsimOptions &options, PictureSource *source, QObject *parent)
    : QObject(parent), options(options), source(source), server(new QTcpServer(this))
{
    if (options.seeded)
        seeds.seed(options.seed);
    else
        seeds.seed(QRandomGenerator::global()->generate());

    connect(server, &QTcpServer::newConnection, this, &CamServer::onNewConnection);

    clock.setSingleShot(true);
    clock.setTimerType(Qt::PreciseTimer);
    connect(&clock, &QTimer::timeout, this, &CamServer::tick);

    if (options.statusEveryMs > 0) {
        connect(&statusTimer, &QTimer::timeout, this, &CamServer::printStatus);
        statusTimer.start(options.statusEveryMs);
    }
    statusInterval.start();
}

CamServer::~CamServer()
{
    for (auto &client : clients) {
        client->socket->disconnect(client.get());
        delete client->socket;
    }
    if (sendLog)
        sendLog->close();
}

bool CamServer::openSendLog(QString *error)
{
    if (options.logSendsPath.isEmpty())
        return true;
    sendLog = new QFile(options.logSendsPath, this);
    if (!sendLog->open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
        *error = QString("cannot write '%1': %2").arg(sendLog->fileName(), sendLog->errorString());
        return false;
    }
    return true;
}

bool CamServer::listen(QString *error)
{
    if (server->listen(options.listenAddress, options.port))
        return true;
    *error = QString("cannot listen on %1:%2: %3")
                 .arg(options.listenAddress.toString())
                 .arg(options.port)
                 .arg(server->errorString());
    return false;
}

QString CamServer::boundAddress() const
{
    const QHostAddress a = server->serverAddress();
    const QString host = a.protocol() == QAbstractSocket::IPv6Protocol
        ? QString("[%1]").arg(a.toString())
        : a.toString();
    return QString("%1:%2").arg(host).arg(server->serverPort());
}

void CamServer::stop()
{
    server->close();
    clock.stop();
    clockHeld = false;
    for (auto &client : clients) {
        if (!client->gone)
            account(client.get());
    }
    printStatus();
    for (auto &client : clients) {
        client->socket->disconnect(client.get());
        client->socket->abort();
        client->gone = true;
    }
    if (sendLog)
        sendLog->flush();
}

void CamServer::onNewConnection()
{
    while (QTcpSocket *socket = server->nextPendingConnection()) {
        if (finishing) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        auto client = std::make_unique<Client>();
        Client *c = client.get();
        c->socket = socket;
        c->random.seed(seeds.generate());
        c->lastFrame = framesMade;
        // Each piece of a chunked stream should leave as a segment of its own.
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        // The camera listens to nobody: whatever a client sends is dropped.
        connect(socket, &QTcpSocket::readyRead, socket, [socket] { socket->readAll(); });
        connect(socket, &QTcpSocket::bytesWritten, c, [this, c] { onBytesWritten(c); });
        connect(socket, &QTcpSocket::disconnected, c, [this, c] { onDisconnected(c); });
        clients.push_back(std::move(client));

        if (options.fps > 0) {
            if (!clock.isActive()) {
                clockStart.start();
                clockTicks = 0;
                clock.start(0);
            }
        } else {
            scheduleServeIdle();
        }
    }
}

void CamServer::onBytesWritten(Client *client)
{
    if (client->gone)
        return;
    account(client);
    if (!client->pending.isEmpty())
        schedulePump(client);
    else if (options.fps == 0 && isIdle(client))
        scheduleServeIdle();
}

void CamServer::onDisconnected(Client *client)
{
    // Called from inside writes and closes too: removal waits for the event loop.
    if (client->gone)
        return;
    client->gone = true;
    if (client->closeWatchdog)
        client->closeWatchdog->stop();
    QTimer::singleShot(0, this, &CamServer::removeGoneClients);
}

void CamServer::removeGoneClients()
{
    for (auto it = clients.begin(); it != clients.end();) {
        if ((*it)->gone) {
            (*it)->socket->disconnect(it->get());
            (*it)->socket->deleteLater();
            it = clients.erase(it);
        } else {
            ++it;
        }
    }
    if (clients.empty()) {
        clock.stop();
        clockHeld = false;
        if (finishing)
            emit finished();
    } else {
        resumeClock();
    }
}

void CamServer::tick()
{
    // A run of --frames promises every frame to a client that takes them, so
    // the clock waits for the simulator's own writes rather than skip.
    if (options.frames > 0 && anyPumpBehind()) {
        clockHeld = true;
        return;
    }
    const std::shared_ptr<Frame> frame = makeFrame();
    for (auto &client : clients) {
        if (!client->gone && !client->closing)
            offer(client.get(), frame);
    }
    if (options.frames > 0 && framesMade >= quint64(options.frames)) {
        finish();
        return;
    }

    const qint64 periodNs = qint64(1e9 / options.fps);
    ++clockTicks;
    qint64 waitNs = clockStart.nsecsElapsed();
    waitNs = clockTicks * periodNs - waitNs;
    if (waitNs < -periodNs) {
        // Far behind (a slow machine, a stopped process): start afresh
        // rather than send a burst of frames to catch up.
        clockStart.start();
        clockTicks = 0;
        waitNs = 0;
    }
    clock.start(int(qMax<qint64>(0, waitNs / 1000000)));
}

std::shared_ptr<CamServer::Frame> CamServer::makeFrame()
{
    auto frame = std::make_shared<Frame>();
    frame->number = ++framesMade;
    frame->jpeg = source->frame(frame->number);
    latest = frame;
    return frame;
}

void CamServer::offer(Client *client, const std::shared_ptr<Frame> &frame)
{
    const quint64 missed = frame->number - client->lastFrame - 1;
    client->lastFrame = frame->number;
    framesSkipped += qint64(missed);

    const qint64 k = client->framesSent + 1;
    const bool broken = options.badEvery > 0 && k % options.badEvery == 0;
    const bool oversize = options.oversizeEvery > 0 && k % options.oversizeEvery == 0;
    const QByteArray &bytes = frame->bytes(broken, oversize);
    if (backlog(client) >= kMaxFramesWaiting * bytes.size()) {
        ++framesSkipped;
        return;
    }

    if (options.junk)
        enqueue(client, Wire::junk(client->random));
    enqueue(client, bytes);
    client->frameEnds.emplace_back(
        client->toSocket + client->pending.size() - client->pendingOffset, frame->number);
    ++client->framesSent;
    ++framesSent;

    if (options.dropAfter > 0 && client->framesSent >= options.dropAfter)
        closeWhenFlushed(client);
}

void CamServer::enqueue(Client *client, const QByteArray &bytes)
{
    if (options.chunk == 0 && !options.randomChunks) {
        if (client->socket->write(bytes) == bytes.size())
            client->toSocket += bytes.size();
        return;
    }
    client->pending.append(bytes);
    schedulePump(client);
}

// Hands the chunked stream to the socket piece by piece, each piece flushed
// on its own, and only while the socket has nothing else waiting: pieces
// never merge in the socket's buffer.
void CamServer::pump(Client *client)
{
    QTcpSocket *socket = client->socket;
    for (int n = 0; n < kPiecesPerTurn && client->pendingOffset < client->pending.size(); ++n) {
        if (socket->bytesToWrite() > 0)
            break;
        const int left = client->pending.size() - client->pendingOffset;
        const int piece = qMin(
            left, options.randomChunks ? Wire::randomChunkSize(client->random) : options.chunk);
        socket->write(client->pending.constData() + client->pendingOffset, piece);
        client->toSocket += piece;
        client->pendingOffset += piece;
        socket->flush();
        if (client->gone)
            return;
    }
    if (client->pendingOffset == client->pending.size()) {
        client->pending.clear();
        client->pendingOffset = 0;
    } else if (client->pendingOffset > (1 << 20)) {
        client->pending.remove(0, client->pendingOffset);
        client->pendingOffset = 0;
    }
    account(client);

    resumeClock();
    if (!client->pending.isEmpty()) {
        // A full socket resumes on bytesWritten; otherwise come back soon.
        if (socket->bytesToWrite() == 0)
            schedulePump(client);
    } else if (client->closing) {
        socket->disconnectFromHost();
    } else if (options.fps == 0 && isIdle(client)) {
        scheduleServeIdle();
    }
}

void CamServer::schedulePump(Client *client)
{
    if (client->pumpScheduled || client->gone)
        return;
    client->pumpScheduled = true;
    QTimer::singleShot(0, client, [this, client] {
        client->pumpScheduled = false;
        if (!client->gone)
            pump(client);
    });
}

void CamServer::account(Client *client)
{
    const qint64 toKernel = client->toSocket - client->socket->bytesToWrite();
    kernelBytes += toKernel - client->toKernel;
    client->toKernel = toKernel;
    if (client->frameEnds.empty() || client->frameEnds.front().first > toKernel)
        return;
    const qint64 now = monotonicNs();
    while (!client->frameEnds.empty() && client->frameEnds.front().first <= toKernel) {
        if (sendLog)
            sendLog->write(QByteArray::number(client->frameEnds.front().second) + ' '
                           + QByteArray::number(now) + '\n');
        client->frameEnds.pop_front();
    }
}

void CamServer::closeWhenFlushed(Client *client)
{
    client->closing = true;
    account(client);
    client->toKernelAtWatch = client->toKernel;
    client->closeWatchdog = std::make_unique<QTimer>();
    connect(client->closeWatchdog.get(), &QTimer::timeout, client, [this, client] {
        account(client);
        if (client->toKernel == client->toKernelAtWatch)
            client->socket->abort();
        client->toKernelAtWatch = client->toKernel;
    });
    client->closeWatchdog->start(kCloseStallMs);
    // With chunks still to go, pump() closes once the last has left.
    if (client->pending.isEmpty())
        client->socket->disconnectFromHost();
}

// Some client takes all it has been sent while chunks of its stream still
// wait for the simulator to write them: the simulator, not the client, is behind.
bool CamServer::anyPumpBehind() const
{
    for (const auto &client : clients) {
        if (!client->gone && !client->closing && !client->pending.isEmpty()
            && client->socket->bytesToWrite() == 0)
            return true;
    }
    return false;
}

void CamServer::resumeClock()
{
    if (!clockHeld || anyPumpBehind())
        return;
    clockHeld = false;
    clock.start(0);
}

qint64 CamServer::backlog(const Client *client) const
{
    return client->pending.size() - client->pendingOffset + client->socket->bytesToWrite();
}

bool CamServer::isIdle(const Client *client) const
{
    return !client->gone && !client->closing && backlog(client) == 0;
}

void CamServer::scheduleServeIdle()
{
    if (serveScheduled)
        return;
    serveScheduled = true;
    QTimer::singleShot(0, this, &CamServer::serveIdle);
}

// --fps 0: a frame for every client that has taken its last one, made anew
// when one of them has already had the newest.
void CamServer::serveIdle()
{
    serveScheduled = false;
    if (finishing)
        return;
    bool needNew = false;
    for (auto &client : clients) {
        if (isIdle(client.get()) && (!latest || latest->number <= client->lastFrame))
            needNew = true;
    }
    if (needNew)
        makeFrame();
    for (auto &client : clients) {
        if (isIdle(client.get()) && latest && latest->number > client->lastFrame)
            offer(client.get(), latest);
    }
    if (needNew && options.frames > 0 && framesMade >= quint64(options.frames))
        finish();
}

void CamServer::finish()
{
    finishing = true;
    clock.stop();
    server->close();
    for (auto &client : clients) {
        if (!client->gone && !client->closing)
            closeWhenFlushed(client.get());
    }
    QTimer::singleShot(0, this, &CamServer::removeGoneClients);
}

void CamServer::printStatus()
{
    qint64 waiting = 0;
    int connected = 0;
    for (auto &client : clients) {
        if (client->gone)
            continue;
        account(client.get());
        waiting += backlog(client.get());
        ++connected;
    }
    const double seconds = qMax<qint64>(1, statusInterval.restart()) / 1000.0;
    const double fps = double(framesMade - framesAtLastStatus) / seconds;
    const double kBps = double(kernelBytes - kernelBytesAtLastStatus) / seconds / 1000.0;
    framesAtLastStatus = framesMade;
    kernelBytesAtLastStatus = kernelBytes;
    qInfo("clients %d, frames %llu, sent %lld, skipped %lld, %.1f fps, %.0f kB/s, backlog %lld kB",
          connected, framesMade, framesSent, framesSkipped, fps, kBps, waiting / 1000);
    if (sendLog)
        sendLog->flush();
}
