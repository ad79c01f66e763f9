// SPDX-License-Identifier: MIT
#include "keepalive.h"

#include <QAbstractSocket>
#include <QVariant>

#ifdef Q_OS_WIN
#include <winsock2.h>
// After winsock2.h, which declares what these use.
#include <mstcpip.h>
#include <ws2tcpip.h>
// Older mingw-w64 headers lack the values Windows 10 has for these.
#ifndef TCP_KEEPIDLE
#define TCP_KEEPIDLE 3
#endif
#ifndef TCP_KEEPCNT
#define TCP_KEEPCNT 16
#endif
#ifndef TCP_KEEPINTVL
#define TCP_KEEPINTVL 17
#endif
#else
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#endif

namespace {

#ifdef Q_OS_WIN
bool setTcpOption(SOCKET s, int option, DWORD value)
{
    return setsockopt(s, IPPROTO_TCP, option, reinterpret_cast<const char *>(&value), sizeof value)
        == 0;
}

void setKeepAliveTimes(qintptr descriptor)
{
    const auto s = SOCKET(descriptor);
    // Windows 10 1709 and later take all three times as socket options.
    if (setTcpOption(s, TCP_KEEPIDLE, kKeepAliveIdleS)
        && setTcpOption(s, TCP_KEEPINTVL, kKeepAliveIntervalS)
        && setTcpOption(s, TCP_KEEPCNT, kKeepAliveCount))
        return;
    // Older ones send a fixed ten probes, so the interval shrinks to keep
    // within the same bound.
    tcp_keepalive times;
    times.onoff = 1;
    times.keepalivetime = kKeepAliveIdleS * 1000;
    times.keepaliveinterval = kKeepAliveCount * kKeepAliveIntervalS * 1000 / 10;
    DWORD returned = 0;
    WSAIoctl(s, SIO_KEEPALIVE_VALS, &times, sizeof times, nullptr, 0, &returned, nullptr, nullptr);
}
#else
void setKeepAliveTimes(qintptr descriptor)
{
    const int fd = int(descriptor);
    const int idle = kKeepAliveIdleS;
    const int interval = kKeepAliveIntervalS;
    const int count = kKeepAliveCount;
#ifdef TCP_KEEPIDLE
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
#elif defined(TCP_KEEPALIVE)
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPALIVE, &idle, sizeof idle);
#endif
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
}
#endif

} // namespace

void enableKeepAlive(QAbstractSocket *socket)
{
    socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    if (socket->socketDescriptor() != -1)
        setKeepAliveTimes(socket->socketDescriptor());
}
