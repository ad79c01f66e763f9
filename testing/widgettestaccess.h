// SPDX-License-Identifier: MIT
#ifndef WIDGETTESTACCESS_H
#define WIDGETTESTACCESS_H

#include "orvex.h"
#include "widget.h"
#include "widgetform.h"

#include <QByteArray>
#include <QLineEdit>
#include <QPushButton>
#include <QString>
#include <QTcpSocket>

// Reaches into a Widget the way only tests, the fuzzer and the benchmarks
// should: its form, its view, and the frame assembly state behind the stream
// slot.
class WidgetTestAccess
{
public:
    static WidgetForm *form(Widget &w) { return w.form; }
    static Orvex *view(Widget &w) { return w.view; }
    static QTcpSocket *socket(Widget &w) { return w.socket; }

    // Feeds bytes as if they had arrived in one read from the socket.
    static void feed(Widget &w, const QByteArray &chunk)
    {
        w.consumeChunk(chunk.constData(), chunk.size());
    }

    static qint32 frameLength(const Widget &w) { return w.frameLength; }
    static qint32 inFrame(const Widget &w) { return w.inFrame; }
    static qint32 markerState(const Widget &w) { return w.markerState; }
    static const char *frameBuffer(const Widget &w) { return w.frameBuffer; }
    static const char *displayBuffer(const Widget &w) { return w.displayBuffer; }
    static bool captureRequested(const Widget &w) { return w.captureRequested; }
    static qint32 captureCount(const Widget &w) { return w.captureCount; }
};

// Types the address and port into the form and clicks the Start button.
inline void clickStart(Widget &w, const QString &host, const QString &port)
{
    WidgetForm *form = WidgetTestAccess::form(w);
    form->lineEdit_ip->setText(host);
    form->lineEdit_port->setText(port);
    form->pushButton->click();
}

inline void clickStart(Widget &w, quint16 port)
{
    clickStart(w, QStringLiteral("127.0.0.1"), QString::number(port));
}

#endif // WIDGETTESTACCESS_H
