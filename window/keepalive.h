// SPDX-License-Identifier: MIT
#ifndef KEEPALIVE_H
#define KEEPALIVE_H

#include <QtGlobal>

QT_BEGIN_NAMESPACE
class QAbstractSocket;
QT_END_NAMESPACE

// A camera that loses power or drops out of range sends no FIN or RST, and
// the viewer, which never sends, would wait for it forever. With these
// keepalive times the system gives up on a silent peer that no longer answers
// within kKeepAliveIdleS + kKeepAliveCount * kKeepAliveIntervalS seconds of
// its last packet; a live camera's system answers the probes however long
// the camera itself pauses.
constexpr int kKeepAliveIdleS = 4;
constexpr int kKeepAliveIntervalS = 2;
constexpr int kKeepAliveCount = 3;

// Turns keepalive on for a connected socket, with the times above where the
// system lets a program set them.
void enableKeepAlive(QAbstractSocket *socket);

#endif // KEEPALIVE_H
