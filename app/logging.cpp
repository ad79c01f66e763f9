// SPDX-License-Identifier: MIT
#include "logging.h"

#include <QByteArray>
#include <QString>

#include <mutex>

namespace {

// Categories Qt 6 logs in that Qt 5 logged without.
const char *const categoriesBareInQt5[] = {
    "qt.core.qmetaobject.connectslotsbyname",
    "qt.gui.imageio.jpeg",
};

// Messages come from any thread: the name lookup's, the thread pool's, the
// X event reader's. A standard mutex rather than QMutex, so that
// ThreadSanitizer sees it; it is constant-initialized and has nothing to undo
// at exit, so messages logged while static objects are made or destroyed
// still find it.
std::mutex lock;
QtMessageHandler previousHandler = nullptr;
LogSink *sink = nullptr;

bool bareInQt5(const char *category)
{
    for (const char *bare : categoriesBareInQt5) {
        if (qstrcmp(category, bare) == 0)
            return true;
    }
    return false;
}

void handleMessage(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    const QMessageLogContext plain(context.file, context.line, context.function, "default");
    const QMessageLogContext &as = bareInQt5(context.category) ? plain : context;
    QtMessageHandler print;
    {
        const std::lock_guard<std::mutex> locked(lock);
        if (sink && !sink->receive(type, as, message))
            return;
        print = previousHandler;
    }
    print(type, as, message);
}

} // namespace

void setUpLogging()
{
    // A message from another thread that reaches the new handler before the
    // previous one is stored waits on the lock until it is.
    const std::lock_guard<std::mutex> locked(lock);
    if (previousHandler)
        return;
    // Never null: with no handler of anyone's installed, Qt returns its own.
    previousHandler = qInstallMessageHandler(&handleMessage);
}

LogSink *setLogSink(LogSink *newSink)
{
    const std::lock_guard<std::mutex> locked(lock);
    LogSink *const replaced = sink;
    sink = newSink;
    return replaced;
}
