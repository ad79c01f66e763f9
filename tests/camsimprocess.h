#ifndef CAMSIMPROCESS_H
#define CAMSIMPROCESS_H

#include <QByteArray>
#include <QDeadlineTimer>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>
#include <QVector>

#ifndef ORVEX_CAMSIM_PATH
#error "ORVEX_CAMSIM_PATH must name the built orvex-camsim"
#endif

// The real simulator as a child process on a free loopback port.
class CamsimProcess
{
public:
    ~CamsimProcess()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
    }

    // Starts orvex-camsim with args plus a free port, and waits for the
    // line that names the port. False if it exits or stays silent instead.
    bool start(const QStringList &args)
    {
        process.start(QStringLiteral(ORVEX_CAMSIM_PATH),
                      QStringList(args) << "--listen"
                                        << "127.0.0.1"
                                        << "--port"
                                        << "0");
        if (!process.waitForStarted(10000))
            return false;
        const QRegularExpression listening("^listening on 127\\.0\\.0\\.1:(\\d+)$");
        QDeadlineTimer deadline(10000);
        while (!deadline.hasExpired()) {
            while (process.canReadLine()) {
                const QString line = QString::fromUtf8(process.readLine()).trimmed();
                const QRegularExpressionMatch m = listening.match(line);
                if (m.hasMatch()) {
                    port = quint16(m.captured(1).toUInt());
                    return port != 0;
                }
            }
            if (process.state() == QProcess::NotRunning)
                return false;
            process.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
        }
        return false;
    }

    // True once it has ended, also when an event loop has already seen it go.
    bool waitForExit(int timeoutMs = 10000)
    {
        return process.state() == QProcess::NotRunning || process.waitForFinished(timeoutMs);
    }

    // Everything it wrote to stderr so far.
    QString errorOutput()
    {
        errors += QString::fromUtf8(process.readAllStandardError());
        return errors;
    }

    QProcess process;
    quint16 port = 0;

private:
    QString errors;
};

// An independent reading of the stream: frames are what lies between J_S=
// and the next J_E;, everything else is outside. It knows nothing of the
// viewer's recogniser, and is only right for streams whose frames hold no
// marker, which is what the simulator promises.
struct SplitStream
{
    QVector<QByteArray> frames;
    QByteArray outside;
    QByteArray unfinished; // from a start marker on, its end not yet seen

    static SplitStream of(const QByteArray &stream)
    {
        SplitStream s;
        int pos = 0;
        for (;;) {
            const int start = stream.indexOf("J_S=", pos);
            if (start < 0) {
                s.outside += stream.mid(pos);
                return s;
            }
            s.outside += stream.mid(pos, start - pos);
            const int end = stream.indexOf("J_E;", start + 4);
            if (end < 0) {
                s.unfinished = stream.mid(start);
                return s;
            }
            s.frames.append(stream.mid(start + 4, end - start - 4));
            pos = end + 4;
        }
    }
};

// J_S=, J_E=, J_S; or J_E; anywhere in bytes: what a viewer takes for a marker.
inline bool holdsMarker(const QByteArray &bytes)
{
    for (int i = 0; i + 3 < bytes.size(); ++i) {
        if (bytes[i] == 'J' && bytes[i + 1] == '_' && (bytes[i + 2] == 'S' || bytes[i + 2] == 'E')
            && (bytes[i + 3] == '=' || bytes[i + 3] == ';'))
            return true;
    }
    return false;
}

inline bool startsLikeJpeg(const QByteArray &frame)
{
    return frame.startsWith("\xFF\xD8\xFF");
}

#endif // CAMSIMPROCESS_H
