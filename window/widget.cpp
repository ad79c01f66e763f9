#include "widget.h"

#include "snapshot.h"
#include "widgetform.h"

#include <QCoreApplication>
#include <QTcpSocket>

#include <new>

namespace {

// Zeroed, as the end of each frame leaves the assembly buffer.
char *allocateFrameBuffer()
{
    return new (std::nothrow) char[kFrameBufferSize]();
}

} // namespace

Widget::Widget(QWidget *parent) : QWidget(parent), form(new WidgetForm)
{
    form->setupUi(this);

    purgeSnapshots(QCoreApplication::applicationDirPath());

    frameBuffer = allocateFrameBuffer();
    displayBuffer = allocateFrameBuffer();
    if (!hasFrameBuffers())
        qCritical("Out of memory: cannot allocate the frame buffers");

    createView();

    socket = new QTcpSocket;
    socket->setReadBufferSize(kSocketBufferSize);
    connect(socket, &QTcpSocket::readyRead, this, &Widget::on_socket_read);
    connect(socket, &QTcpSocket::disconnected, this, &Widget::on_socket_disconnected);
}

Widget::~Widget()
{
    // Closing may emit disconnected, whose slot still needs the form.
    socket->close();
    delete socket;
    delete[] displayBuffer;
    delete[] frameBuffer;
    delete form;
}
