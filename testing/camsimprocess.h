// SPDX-License-Identifier: MIT
#ifndef CAMSIMPROCESS_H
#define CAMSIMPROCESS_H

#include <QProcess>
#include <QString>
#include <QStringList>

// The camera simulator as a child process on a free loopback port.
class CamsimProcess
{
public:
    explicit CamsimProcess(const QString &program) : program(program) { }
    // Kills it: a clean exit would only cost time once its user is done.
    ~CamsimProcess();
    CamsimProcess(const CamsimProcess &) = delete;
    CamsimProcess &operator=(const CamsimProcess &) = delete;

    // For long runs that never read the status lines: they would otherwise
    // pile up in this process. Takes effect at the next start.
    void discardErrorOutput() { discardErrors = true; }

    // Stops a running simulator, starts it with args plus a free port on
    // 127.0.0.1, and waits for the line that names the port. False if it
    // exits or stays silent instead.
    bool start(const QStringList &args);

    // Asks it to end, then makes it.
    void stop();

    // True once it has ended, also when an event loop has already seen it go.
    bool waitForExit(int timeoutMs = 10000);

    // Everything it wrote to stderr so far.
    QString errorOutput();

    QProcess process;
    quint16 port = 0;

private:
    QString program;
    QString errors;
    bool discardErrors = false;
};

#endif // CAMSIMPROCESS_H
