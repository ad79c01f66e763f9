// SPDX-License-Identifier: MIT
#ifndef MAINRUNNER_H
#define MAINRUNNER_H

// Runs the program's own main() inside a test executable. A process holds one
// application object at a time, so this has to happen before the test creates
// its own, and the event loop is ended from inside so the call returns.

#include "logcapture.h"
#include "widget.h"

#include <QApplication>
#include <QByteArray>
#include <QMetaObject>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <vector>

#define main orvexMain
#include "../app/main.cpp"
#undef main

// What the program's window looked like once its event loop was running.
struct MainRun
{
    int result = -1;
    bool loopStarted = false;
    int windowCount = 0;
    QString className;
    Qt::WindowFlags flags;
    QSize size;
    QSize minimumSize;
    QSize maximumSize;
    QSize sizeAfterResize;
    bool visible = false;
    // What main logged through the handler it set up, as LogCapture::all()
    // gives it.
    QStringList log;
};

namespace MainRunnerDetail {

inline MainRun *&current()
{
    static MainRun *run = nullptr;
    return run;
}

inline int &exitCode()
{
    static int code = 0;
    return code;
}

// Registered once; runs whenever an application object is constructed, but only
// acts while runMain is on the stack.
inline void onApplicationCreated()
{
    if (!current())
        return;
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [] {
            MainRun *run = current();
            run->loopStarted = true;
            for (QWidget *window : QApplication::topLevelWidgets()) {
                ++run->windowCount;
                run->className = QString::fromLatin1(window->metaObject()->className());
                run->flags = window->windowFlags();
                run->size = window->size();
                run->minimumSize = window->minimumSize();
                run->maximumSize = window->maximumSize();
                run->visible = window->isVisible();
                window->resize(800, 600);
                run->sizeAfterResize = window->size();
            }
            QCoreApplication::exit(exitCode());
        },
        Qt::QueuedConnection);
}

} // namespace MainRunnerDetail

// Calls main with the given program name; a running event loop is ended at
// once with loopExitCode.
inline MainRun runMain(const char *programName, int loopExitCode)
{
    static const bool registered = [] {
        qAddPreRoutine(&MainRunnerDetail::onApplicationCreated);
        return true;
    }();
    Q_UNUSED(registered);

    MainRun run;
    MainRunnerDetail::current() = &run;
    MainRunnerDetail::exitCode() = loopExitCode;

    QByteArray name(programName);
    std::vector<char *> argv {name.data(), nullptr};
    int argc = 1;
    const LogCapture log(LogCapture::attachOnly);
    run.result = orvexMain(argc, argv.data());
    run.log = log.all();

    MainRunnerDetail::current() = nullptr;
    return run;
}

#endif // MAINRUNNER_H
