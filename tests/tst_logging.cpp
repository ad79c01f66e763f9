// SPDX-License-Identifier: MIT
// The program's message handler while another thread logs, as Qt's name
// lookup and thread pool do while the window decodes the camera's frames.
// Meant to run under ThreadSanitizer too (tools/test.sh --tsan).

#include "framedecoder.h"
#include "jpegframes.h"
#include "logcapture.h"

#include <QImage>
#include <QLoggingCategory>
#include <QtTest>

#include <atomic>
#include <thread>

namespace {

const QLoggingCategory &otherCategory()
{
    static const QLoggingCategory category("orvex.test.other");
    return category;
}

// Named as Qt 6's JPEG reader names its own.
const QLoggingCategory &jpegCategory()
{
    static const QLoggingCategory category("qt.gui.imageio.jpeg");
    return category;
}

} // namespace

class TestLogging : public QObject
{
    Q_OBJECT

private slots:
    void messagesFromAnotherThreadWhileDecoding();
};

void TestLogging::messagesFromAnotherThreadWhileDecoding()
{
    constexpr int kFramePairs = 200;
    const QByteArray good = JpegFrames::jpeg(Qt::red, QSize(64, 48));
    const QByteArray undecodable = QByteArray::fromHex("ffd8ffd9");

    LogCapture log;
    log.forward = false;
    // The thread logs from before the first decode until after the last.
    std::atomic<int> logged {0};
    std::atomic<bool> stop {false};
    std::thread logger([&] {
        do {
            qCWarning(otherCategory, "other %d", logged.load());
            qCWarning(jpegCategory, "jpeg %d", logged.load());
            ++logged;
        } while (!stop);
    });
    while (logged == 0)
        std::this_thread::yield();

    int wrongPictures = 0;
    FrameDecoder decoder;
    QImage picture;
    for (int i = 0; i < kFramePairs; ++i) {
        decoder.decode(good.constData(), good.size(), &picture);
        wrongPictures += picture.size() == QSize(64, 48) ? 0 : 1;
        decoder.decode(undecodable.constData(), undecodable.size(), &picture);
        wrongPictures += picture.isNull() ? 0 : 1;
    }
    stop = true;
    logger.join();
    QCOMPARE(wrongPictures, 0);

    // Every line once, the thread's in the order it logged them; the other
    // category's name kept, the JPEG reader's gone, as on the GUI thread.
    QStringList fromThread;
    for (int i = 0; i < logged; ++i) {
        fromThread << QString("%1 orvex.test.other: other %2").arg(QtWarningMsg).arg(i);
        fromThread << QString("%1 default: jpeg %2").arg(QtWarningMsg).arg(i);
    }
    QStringList lines = log.all();
    const QString decodeWarning
        = QString::number(QtWarningMsg) + " default: JPEG datastream contains no image";
    QCOMPARE(lines.removeAll(decodeWarning), kFramePairs);
    QCOMPARE(lines, fromThread);
}

QTEST_MAIN(TestLogging)

#include "tst_logging.moc"
