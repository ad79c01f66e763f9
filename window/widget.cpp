// SPDX-License-Identifier: MIT
#include "widget.h"

#include "snapshot.h"
#include "widgetform.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTcpSocket>

#include <new>
#include <utility>

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
    setUpKeyboard();

    snapshotPlaces = currentSnapshotPlaces();
    purgeProgramFolder();
    // Where the next Capture will probably go; a portable copy's own folder
    // may refuse it (a copy installed system-wide, a read-only medium).
    const QString &program = snapshotPlaces.programFolder;
    showCaptureFolder(!program.isEmpty() && canCreateFileIn(program) ? program
                                                                     : picturesFolderNow());
    captureFailedNotice.setSingleShot(true);
    connect(&captureFailedNotice, &QTimer::timeout, this, &Widget::endCaptureFailedNotice);

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

// Tab and Enter as users of such a form expect, without touching the form
// itself: its widgets come in the designer's creation order, not in the order
// they are read.
void Widget::setUpKeyboard()
{
    setTabOrder(form->lineEdit_ip, form->lineEdit_port);
    setTabOrder(form->lineEdit_port, form->pushButton);
    setTabOrder(form->pushButton, form->CatptureBtn);

    const auto fields = {std::make_pair(form->lineEdit_ip, form->label),
                         std::make_pair(form->lineEdit_port, form->label_2)};
    for (const auto &[field, label] : fields) {
        label->setBuddy(field);
        field->setAccessibleName(label->text());
        // Enter only ever connects: a running stream is stopped by the button alone.
        connect(field, &QLineEdit::returnPressed, this, [this] {
            if (form->pushButton->text() == tr("Start"))
                form->pushButton->click();
        });
    }
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
