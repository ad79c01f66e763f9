// SPDX-License-Identifier: MIT
#include "highdpi.h"
#include "logging.h"
#include "widget.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    setUpLogging();
    enableHighDpiScaling();
    QApplication a(argc, argv);
    Widget w;
    if (!w.hasFrameBuffers())
        return 1;
    w.setWindowFlags(w.windowFlags() & ~Qt::WindowMaximizeButtonHint);
    w.setFixedSize(w.width(), w.height());
    w.show();
    return a.exec();
}
