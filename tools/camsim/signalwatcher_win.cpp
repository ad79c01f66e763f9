// SPDX-License-Identifier: MIT
#include "signalwatcher.h"

#include <QMetaObject>

#include <csignal>
#include <windows.h>

namespace {

SignalWatcher *installed = nullptr;

// Windows calls this on a thread of its own, so the signal is queued to the
// watcher's thread rather than emitted here.
BOOL WINAPI consoleHandler(DWORD event)
{
    int signalNumber = 0;
    switch (event) {
    case CTRL_C_EVENT:
        signalNumber = SIGINT;
        break;
    case CTRL_BREAK_EVENT:
        signalNumber = SIGTERM;
        break;
    default:
        // Closing the console ends the process when this returns anyway.
        return FALSE;
    }
    SignalWatcher *watcher = installed;
    if (!watcher)
        return FALSE;
    QMetaObject::invokeMethod(
        watcher, [watcher, signalNumber] { emit watcher->received(signalNumber); },
        Qt::QueuedConnection);
    return TRUE;
}

} // namespace

SignalWatcher::SignalWatcher(QObject *parent) : QObject(parent) { }

SignalWatcher::~SignalWatcher()
{
    if (installed == this) {
        SetConsoleCtrlHandler(consoleHandler, FALSE);
        installed = nullptr;
    }
}

bool SignalWatcher::install(QString *error)
{
    if (!SetConsoleCtrlHandler(consoleHandler, TRUE)) {
        *error = QString("SetConsoleCtrlHandler: error %1").arg(GetLastError());
        return false;
    }
    installed = this;
    return true;
}
