// SPDX-License-Identifier: MIT
#include "jpegframes.h"
#include "mainrunner.h"
#include "orvex.h"
#include "widget.h"
#include "widgetform.h"
#include "widgettestaccess.h"

#include <QBuffer>
#include <QImage>
#include <QPushButton>
#include <QtTest>

#include <cstddef>
#include <new>

namespace {

using namespace JpegFrames;

// Which of the next frame-buffer sized requests fail: bit 0 the first
// (frameBuffer), bit 1 the second (displayBuffer).
int failingRequests = 0;
int bufferRequests = 0;

class FailBufferAllocations
{
public:
    explicit FailBufferAllocations(int which)
    {
        failingRequests = which;
        bufferRequests = 0;
    }
    ~FailBufferAllocations() { failingRequests = 0; }
    FailBufferAllocations(const FailBufferAllocations &) = delete;
    FailBufferAllocations &operator=(const FailBufferAllocations &) = delete;
};

QByteArray framedJpeg()
{
    return framed(jpeg(Qt::white, QSize(64, 48)));
}

} // namespace

// The window asks for its buffers with the non-throwing form; this test's
// replacement refuses them on demand. Everything else, and every request
// while nothing is armed, goes to the ordinary allocator, so new[] and
// delete[] stay paired for the sanitizers.
void *operator new[](std::size_t size, const std::nothrow_t &) noexcept
{
    if (failingRequests && size == std::size_t(kFrameBufferSize)) {
        const int request = bufferRequests++;
        if (failingRequests & (1 << request))
            return nullptr;
    }
    try {
        return ::operator new[](size);
    } catch (...) {
        return nullptr;
    }
}

class TestAllocFail : public QObject
{
    Q_OBJECT

public:
    TestAllocFail(const MainRun &failed, const MainRun &normal) : failed(failed), normal(normal) { }

private slots:
    void windowWithoutBuffers_data();
    void windowWithoutBuffers();
    void mainExitsWithoutRunningLoop();

private:
    const MainRun failed;
    const MainRun normal;
};

void TestAllocFail::windowWithoutBuffers_data()
{
    QTest::addColumn<int>("which");
    QTest::newRow("frame buffer") << 1;
    QTest::newRow("display buffer") << 2;
    QTest::newRow("both") << 3;
}

void TestAllocFail::windowWithoutBuffers()
{
    QFETCH(int, which);

    QTest::ignoreMessage(QtCriticalMsg, "Out of memory: cannot allocate the frame buffers");
    Widget *w = nullptr;
    {
        FailBufferAllocations failing(which);
        w = new Widget;
        QCOMPARE(bufferRequests, 2);
    }
    QScopedPointer<Widget> owner(w);
    QVERIFY(!w->hasFrameBuffers());
    QCOMPARE(WidgetTestAccess::frameBuffer(*w) == nullptr, bool(which & 1));
    QCOMPARE(WidgetTestAccess::displayBuffer(*w) == nullptr, bool(which & 2));

    // A whole frame, then a frame split inside its markers: both are ignored.
    const QByteArray frame = framedJpeg();
    WidgetTestAccess::feed(*w, frame);
    WidgetTestAccess::feed(*w, frame.left(2));
    WidgetTestAccess::feed(*w, frame.mid(2, frame.size() - 4));
    WidgetTestAccess::feed(*w, frame.right(2));
    QCOMPARE(WidgetTestAccess::frameLength(*w), 0);
    QCOMPARE(WidgetTestAccess::inFrame(*w), 0);

    // The view still shows its black start picture.
    const QImage shown = WidgetTestAccess::view(*w)->grab().toImage();
    QCOMPARE(shown.pixel(100, 400) & 0xffffff, 0u);

    WidgetTestAccess::form(*w)->CatptureBtn->click();
    WidgetTestAccess::feed(*w, frame);
    QCOMPARE(WidgetTestAccess::captureCount(*w), 0);
}

void TestAllocFail::mainExitsWithoutRunningLoop()
{
    // The reference run proves the loop would have been noticed.
    QVERIFY(normal.loopStarted);
    QCOMPARE(normal.result, 42);

    QVERIFY(!failed.loopStarted);
    QVERIFY(failed.result != 0);
}

int main(int argc, char *argv[])
{
    const MainRun normal = runMain(argv[0], 42);
    MainRun failed;
    {
        FailBufferAllocations failing(1);
        failed = runMain(argv[0], 42);
    }

    QApplication app(argc, argv);
    TestAllocFail test(failed, normal);
    return QTest::qExec(&test, argc, argv);
}

#include "tst_allocfail.moc"
