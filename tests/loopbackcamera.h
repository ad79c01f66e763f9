// SPDX-License-Identifier: MIT
#ifndef LOOPBACKCAMERA_H
#define LOOPBACKCAMERA_H

#include "widgettestaccess.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

// A camera stand-in on 127.0.0.1: listens on an ephemeral port and keeps the
// latest viewer connection so a test can send it bytes or hang up.
class LoopbackCamera
{
public:
    bool listen(quint16 port = 0) { return server.listen(QHostAddress::LocalHost, port); }
    quint16 port() const { return server.serverPort(); }
    void close() { server.close(); }

    // The viewer's connection once the server has accepted it, or nullptr.
    QTcpSocket *waitForViewer(int timeoutMs = 5000)
    {
        if (!server.hasPendingConnections() && !server.waitForNewConnection(timeoutMs))
            return nullptr;
        peer = server.nextPendingConnection();
        return peer;
    }

    // A connection the viewer made and the server has not taken yet; checked
    // without waiting, since the viewer's connect has already returned.
    bool hasUnacceptedViewer()
    {
        return server.hasPendingConnections() || server.waitForNewConnection(0);
    }

    void send(const QByteArray &bytes)
    {
        peer->write(bytes);
        peer->flush();
    }

    QTcpServer server;
    QTcpSocket *peer = nullptr;
};

#endif // LOOPBACKCAMERA_H
