// SPDX-License-Identifier: MIT
#include "signalwatcher.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// [0] is written by the handler, [1] read by the event loop.
int fds[2] = {-1, -1};

void handler(int signalNumber)
{
    const int savedErrno = errno;
    const char byte = char(signalNumber);
    // Nothing to do on failure: a full pipe already holds a pending signal.
    [[maybe_unused]] const ssize_t n = ::write(fds[0], &byte, 1);
    errno = savedErrno;
}

} // namespace

SignalWatcher::SignalWatcher(QObject *parent) : QObject(parent) { }

SignalWatcher::~SignalWatcher()
{
    if (notifier) {
        struct sigaction action = {};
        action.sa_handler = SIG_DFL;
        sigaction(SIGINT, &action, nullptr);
        sigaction(SIGTERM, &action, nullptr);
        ::close(fds[0]);
        ::close(fds[1]);
        fds[0] = fds[1] = -1;
    }
}

bool SignalWatcher::install(QString *error)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
        *error = QString("socketpair: %1").arg(std::strerror(errno));
        return false;
    }
    notifier = new QSocketNotifier(fds[1], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &SignalWatcher::onReadable);

    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    if (sigaction(SIGINT, &action, nullptr) != 0 || sigaction(SIGTERM, &action, nullptr) != 0) {
        *error = QString("sigaction: %1").arg(std::strerror(errno));
        return false;
    }
    // A client that vanishes mid-write must not kill the process.
    ::signal(SIGPIPE, SIG_IGN);
    return true;
}

void SignalWatcher::onReadable()
{
    char byte = 0;
    if (::read(fds[1], &byte, 1) == 1)
        emit received(int(byte));
}
