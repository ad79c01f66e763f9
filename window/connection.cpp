// SPDX-License-Identifier: MIT
#include "widget.h"

#include "keepalive.h"
#include "widgetform.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QHostInfo>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTcpSocket>
#include <QTimer>

namespace {

// The whole of Start's wait: the name lookup and the connect together.
constexpr int kConnectTimeoutMs = 3000;

// A port the user meant, or 0. Unlike a plain 16-bit cast this never turns
// "70000" into some other service's port.
quint16 parsePort(const QString &text)
{
    bool ok = false;
    const uint port = text.toUInt(&ok, 10);
    return ok && port <= 65535 ? quint16(port) : 0;
}

void lookUpWithQHostInfo(const QString &host, QObject *context,
                         std::function<void(const QList<QHostAddress> &)> done)
{
    const int id = QHostInfo::lookupHost(host, context,
                                         [done](const QHostInfo &info) { done(info.addresses()); });
    // Given up on: a lookup still queued need not run at all.
    QObject::connect(context, &QObject::destroyed, [id] { QHostInfo::abortHostLookup(id); });
}

} // namespace

void Widget::on_pushButton_clicked()
{
    if (form->pushButton->text() != tr("Start")) {
        socket->disconnectFromHost();
        form->pushButton->setText("Start");
        return;
    }

    const QString host = form->lineEdit_ip->text();
    const quint16 port = parsePort(form->lineEdit_port->text());
    if (port == 0) {
        qDebug("Connection failed!");
        return;
    }

    form->pushButton->setEnabled(false);
    // The wait below keeps the user waiting; show the disabled button first.
    repaint();

    socket->abort();
    resetFrameAssembly();
    const QDeadlineTimer deadline(kConnectTimeoutMs, Qt::PreciseTimer);
    if (connectSocket(addressesOf(host, deadline), port, deadline)) {
        enableKeepAlive(socket);
        qDebug("Connection successfully!");
        form->pushButton->setText("Stop");
    } else {
        qDebug("Connection failed!");
    }
    form->pushButton->setEnabled(true);
}

// The addresses to try for host, or none when the lookup fails or does not
// answer before the deadline.
QList<QHostAddress> Widget::addressesOf(const QString &host, const QDeadlineTimer &deadline)
{
    const QHostAddress literal(host);
    if (!literal.isNull())
        return {literal};

    // The system resolver cannot be stopped once asked, nor given a time
    // limit: its answer is waited for here instead, in a loop that leaves the
    // user's input queued as a blocking wait would. The loop is also the
    // lookup's context, so an answer that comes after it is gone is dropped.
    QList<QHostAddress> addresses;
    bool answered = false;
    QEventLoop loop;
    QPointer<QEventLoop> waiting(&loop);
    auto done = [waiting, &addresses, &answered](const QList<QHostAddress> &found) {
        if (!waiting)
            return; // too late: this wait is over
        addresses = found;
        answered = true;
        waiting->quit();
    };
    if (hostLookup)
        hostLookup(host, &loop, done);
    else
        lookUpWithQHostInfo(host, &loop, done);
    if (!answered) {
        QTimer::singleShot(int(deadline.remainingTime()), Qt::PreciseTimer, &loop,
                           &QEventLoop::quit);
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
    return addresses;
}

// Tries the addresses in turn, as the socket does for a host name, until one
// connects or the deadline passes.
bool Widget::connectSocket(const QList<QHostAddress> &addresses, quint16 port,
                           const QDeadlineTimer &deadline)
{
    for (const QHostAddress &address : addresses) {
        const qint64 remainingMs = deadline.remainingTime();
        if (remainingMs <= 0)
            return false;
        socket->abort();
        socket->connectToHost(address, port, QIODevice::ReadWrite);
        if (socket->waitForConnected(int(remainingMs)))
            return true;
    }
    socket->abort();
    return false;
}

void Widget::on_socket_disconnected()
{
    form->pushButton->setText("Start");
    qDebug("Disconnected!");
}
