#include "widget.h"

#include "widgetform.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTcpSocket>

namespace {

constexpr int kConnectTimeoutMs = 3000;

// A port the user meant, or 0. Unlike a plain 16-bit cast this never turns
// "70000" into some other service's port.
quint16 parsePort(const QString &text)
{
    bool ok = false;
    const uint port = text.toUInt(&ok, 10);
    return ok && port <= 65535 ? quint16(port) : 0;
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
    // The wait below blocks the event loop; show the disabled button first.
    repaint();

    socket->abort();
    socket->connectToHost(host, port, QIODevice::ReadWrite, QAbstractSocket::AnyIPProtocol);
    if (socket->waitForConnected(kConnectTimeoutMs)) {
        qDebug("Connection successfully!");
        form->pushButton->setText("Stop");
    } else {
        qDebug("Connection failed!");
    }
    form->pushButton->setEnabled(true);
}

void Widget::on_socket_disconnected()
{
    form->pushButton->setText("Start");
    qDebug("Disconnected!");
}
