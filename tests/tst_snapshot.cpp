// SPDX-License-Identifier: MIT
#include "jpegframes.h"
#include "logcapture.h"
#include "loopbackcamera.h"
#include "snapshot.h"
#include "testfiles.h"
#include "widget.h"
#include "widgetform.h"
#include "widgettestaccess.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <QAtomicInt>
#include <QElapsedTimer>
#include <QSet>
#include <QThread>

#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <csignal>
#include <sys/resource.h>
#endif

using namespace JpegFrames;

Q_DECLARE_METATYPE(SnapshotWrite)

namespace {

// What a folder Capture may save into is like.
enum class Place { Writable, Missing, NotAFolder };

#ifndef Q_OS_WIN
// Caps the size of any file this process writes, so a write to a real
// regular file fails part way, as on a full disk. Restores the limit on exit.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(qint64 bytes)
    {
        getrlimit(RLIMIT_FSIZE, &saved);
        savedHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved;
        limit.rlim_cur = rlim_t(bytes);
        active = setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, savedHandler);
    }
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;

    // Why no limit can be set here, or nullptr.
    static const char *unavailable() { return nullptr; }

    bool active = false;

private:
    rlimit saved {};
    void (*savedHandler)(int) = nullptr;
};
#else
bool runsUnderWine()
{
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

// Windows has no limit on the size of the files a process writes, and no
// easy full disk. Under 64-bit Wine, though, this process is a Linux process
// underneath, and the Linux limit, set through the kernel directly, stops
// Wine's writes part way exactly like a full disk.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(qint64 bytes)
    {
        if (unavailable())
            return;
        KernelSigaction ignore {kSigIgn, 0, 0, 0};
        Rlimit limit {quint64(bytes), kUnlimited};
        active = linuxSyscall(kRtSigaction, kSigXfsz, &ignore, &savedAction, sizeof(quint64)) == 0
            && linuxSyscall(kPrlimit64, 0, kRlimitFsize, &limit, &saved) == 0;
    }
    ~FileSizeLimit()
    {
        if (!active)
            return;
        linuxSyscall(kPrlimit64, 0, kRlimitFsize, &saved, nullptr);
        linuxSyscall(kRtSigaction, kSigXfsz, &savedAction, nullptr, sizeof(quint64));
    }
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;

    static const char *unavailable()
    {
        if (!runsUnderWine())
            return "Windows has no file size limit, and a full disk cannot be made here";
#ifndef Q_PROCESSOR_X86_64
        return "the Linux file size limit is set only from 64-bit code under Wine";
#else
        return nullptr;
#endif
    }

    bool active = false;

private:
    struct KernelSigaction
    {
        quint64 handler, flags, restorer, mask;
    };
    struct Rlimit
    {
        quint64 current, maximum;
    };
    static constexpr long long kRtSigaction = 13, kPrlimit64 = 302;
    static constexpr long long kSigXfsz = 25, kRlimitFsize = 1;
    static constexpr quint64 kSigIgn = 1, kUnlimited = ~quint64(0);

    template<typename A, typename B, typename C, typename D>
    static long long linuxSyscall(long long number, A a, B b, C c, D d)
    {
#ifdef Q_PROCESSOR_X86_64
        long long result;
        register long long r10 asm("r10") = (long long)(d);
        asm volatile("syscall"
                     : "=a"(result)
                     : "a"(number), "D"((long long)(a)), "S"((long long)(b)), "d"((long long)(c)),
                       "r"(r10)
                     : "rcx", "r11", "memory");
        return result;
#else
        Q_UNUSED(number);
        Q_UNUSED(a);
        Q_UNUSED(b);
        Q_UNUSED(c);
        Q_UNUSED(d);
        return -1;
#endif
    }

    KernelSigaction savedAction {};
    Rlimit saved {};
};
#endif

// Bytes a camera could send, the marker characters and NUL included.
QByteArray awkwardBytes(int length)
{
    QByteArray bytes = QByteArray::fromHex("FFD8FF00") + "J_S=J_E;";
    while (bytes.size() < length)
        bytes.append(char(bytes.size() * 7));
    bytes.truncate(length);
    return bytes;
}

// Makes path what place says.
bool makePlace(const QString &path, Place place)
{
    switch (place) {
    case Place::Writable:
        return QDir().mkpath(path);
    case Place::Missing:
        return !QFileInfo::exists(path);
    case Place::NotAFolder:
        return writeFile(path, "not a folder");
    }
    return false;
}

QString native(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

// Sets an environment variable for as long as it lives.
class EnvironmentOverride
{
public:
    EnvironmentOverride(const char *name, const QByteArray &value)
        : name(name), wasSet(qEnvironmentVariableIsSet(name)), saved(qgetenv(name))
    {
        qputenv(name, value);
    }
    ~EnvironmentOverride()
    {
        if (wasSet)
            qputenv(name, saved);
        else
            qunsetenv(name);
    }
    EnvironmentOverride(const EnvironmentOverride &) = delete;
    EnvironmentOverride &operator=(const EnvironmentOverride &) = delete;

private:
    const char *name;
    bool wasSet;
    QByteArray saved;
};

} // namespace

Q_DECLARE_METATYPE(Place)

class TestSnapshot : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void savesFramesByteForByte();
    void twoClicksSaveOnce();
    void badFrameKeepsArming_data();
    void badFrameKeepsArming();
    void armedBeforeConnecting();
    void purge_data();
    void purge();
    void nextRunPurgesWhatThisOneSaves_data();
    void nextRunPurgesWhatThisOneSaves();
    void constructionPurgesProgramDirectory();
    void takenNameIsSkipped_data();
    void takenNameIsSkipped();
    void twoWindowsCaptureInTurn();
    void unwritableSnapshot();
    void writeFailures_data();
    void writeFailures();
    void searchForFreeName_data();
    void searchForFreeName();
    void capturesAtOnceNeverShareAName();
    void writesUnderNonAsciiDirectory();
    void whereCaptureGoes_data();
    void whereCaptureGoes();
    void picturesFolderKeepsWhatIsThere_data();
    void picturesFolderKeepsWhatIsThere();
    void folderThatTurnsWritableIsUsed();
    void failedCaptureStandsOut();
    void buildsOwnPlaces();
#ifdef Q_OS_UNIX
    void honoursXdgPicturesFolder_data();
    void honoursXdgPicturesFolder();
#endif

private:
    QPushButton *captureButton() const
    {
        return WidgetTestAccess::form(*widget)->CatptureBtn;
    }
    QString snapshot(int n) const
    {
        return snapshotPath(programDir, n);
    }
    void clickCapture()
    {
        QTest::mouseClick(captureButton(), Qt::LeftButton);
    }
    void feed(const QByteArray &bytes)
    {
        WidgetTestAccess::feed(*widget, bytes);
    }
    static void captureOne(Widget &w, const QByteArray &picture)
    {
        QTest::mouseClick(WidgetTestAccess::form(w)->CatptureBtn, Qt::LeftButton);
        WidgetTestAccess::feed(w, framed(picture));
    }
    bool displayStartsWith(const QByteArray &bytes) const
    {
        return std::memcmp(WidgetTestAccess::displayBuffer(*widget), bytes.constData(),
                           size_t(bytes.size()))
            == 0;
    }
    void checkFailedCaptureAndRetry(const QByteArray &picture);
    // Registers a path in the program directory that this test makes, after
    // making sure nothing of someone else's is there.
    bool claim(const QString &path)
    {
        if (QFileInfo::exists(path))
            return false;
        created << path;
        return true;
    }

    QString programDir;
    // The pictures folder of the window made in init.
    std::unique_ptr<QTemporaryDir> pictures;
    QStringList created;
    std::unique_ptr<Widget> widget;
    std::unique_ptr<LogCapture> log;
};

void TestSnapshot::initTestCase()
{
    programDir = QCoreApplication::applicationDirPath();
}

void TestSnapshot::init()
{
    pictures = std::make_unique<QTemporaryDir>();
    QVERIFY(pictures->isValid());
    useSnapshotPlaces(SnapshotPlaces {programDir, pictures->path()});
    widget = std::make_unique<Widget>();
    widget->show();
    QVERIFY(QTest::qWaitForWindowExposed(widget.get()));
    log = std::make_unique<LogCapture>();
    // Whatever the viewer saves in this test was made by this test.
    for (int n = 0; n < 4; ++n)
        QVERIFY(claim(snapshot(n)));
}

void TestSnapshot::cleanup()
{
    widget.reset();
    log.reset();
    useSnapshotPlaces(std::nullopt);
    pictures.reset();
    for (const QString &path : qAsConst(created)) {
        const QFileInfo info(path);
        if (info.isDir())
            QDir().rmdir(path);
        else if (info.exists())
            QFile::remove(path);
    }
    created.clear();
}

void TestSnapshot::savesFramesByteForByte()
{
    LoopbackCamera camera;
    QVERIFY(camera.listen());
    clickStart(*widget, camera.port());
    QVERIFY(camera.waitForViewer());

    const QByteArray pictures[]
        = {jpeg(Qt::red), jpeg(Qt::green, QSize(320, 240)), jpeg(Qt::blue, QSize(17, 9))};
    const QByteArray unarmed = jpeg(Qt::cyan);
    for (int n = 0; n < 3; ++n) {
        QVERIFY(!pictures[n].contains("J_"));
        clickCapture();
        QVERIFY(!captureButton()->isEnabled());
        camera.send(framed(pictures[n]));
        QTRY_VERIFY(captureButton()->isEnabled());
        QCOMPARE(readFile(snapshot(n)), pictures[n]);
        QVERIFY(displayStartsWith(pictures[n]));

        // Frames while not armed are shown and not saved.
        camera.send(framed(unarmed));
        QTRY_VERIFY(displayStartsWith(unarmed));
        QVERIFY(!QFileInfo::exists(snapshot(n + 1)));
    }
    QCOMPARE(WidgetTestAccess::captureCount(*widget), 3);
    QVERIFY(!WidgetTestAccess::captureRequested(*widget));
    QCOMPARE(log->debugLines(), QStringList {"Connection successfully!"});
}

void TestSnapshot::twoClicksSaveOnce()
{
    clickCapture();
    clickCapture();
    QVERIFY(QMetaObject::invokeMethod(widget.get(), "on_CatptureBtn_clicked"));
    QVERIFY(WidgetTestAccess::captureRequested(*widget));
    QVERIFY(!captureButton()->isEnabled());

    const QByteArray first = jpeg(Qt::red);
    feed(framed(first) + framed(jpeg(Qt::green)));

    QCOMPARE(readFile(snapshot(0)), first);
    QVERIFY(!QFileInfo::exists(snapshot(1)));
    QCOMPARE(WidgetTestAccess::captureCount(*widget), 1);
    QVERIFY(captureButton()->isEnabled());
}

void TestSnapshot::badFrameKeepsArming_data()
{
    QTest::addColumn<QByteArray>("bad");

    QTest::newRow("not a JPEG") << framed("GIF89a");
    QTest::newRow("empty frame") << framed(QByteArray());
    QTest::newRow("too long") << framed(QByteArray::fromHex("FFD8FF")
                                        + QByteArray(kFrameBufferSize, 'x'));
}

void TestSnapshot::badFrameKeepsArming()
{
    QFETCH(QByteArray, bad);

    clickCapture();
    feed(bad);

    QCOMPARE(log->debugLines(), QStringList {"Jpeg error"});
    QVERIFY(WidgetTestAccess::captureRequested(*widget));
    QVERIFY(!captureButton()->isEnabled());
    QVERIFY(!QFileInfo::exists(snapshot(0)));

    const QByteArray good = jpeg(Qt::yellow);
    feed(framed(good));
    QCOMPARE(readFile(snapshot(0)), good);
    QVERIFY(!WidgetTestAccess::captureRequested(*widget));
    QVERIFY(captureButton()->isEnabled());
}

void TestSnapshot::armedBeforeConnecting()
{
    clickCapture();
    LoopbackCamera camera;
    QVERIFY(camera.listen());

    // Arming also outlives a connection that dropped mid-frame, whose half
    // frame must not end up in the file.
    clickStart(*widget, camera.port());
    QTcpSocket *first = camera.waitForViewer();
    QVERIFY(first);
    const QByteArray cutOff = framed(jpeg(Qt::green));
    camera.send(cutOff.left(cutOff.size() / 2));
    first->disconnectFromHost();
    QTRY_COMPARE(log->count("Disconnected!"), 1);
    QVERIFY(WidgetTestAccess::captureRequested(*widget));

    clickStart(*widget, camera.port());
    QVERIFY(camera.waitForViewer());
    const QByteArray picture = jpeg(Qt::magenta);
    camera.send(framed(picture));

    QTRY_VERIFY(captureButton()->isEnabled());
    QCOMPARE(readFile(snapshot(0)), picture);
}

void TestSnapshot::purge_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("directory");
    QTest::addColumn<bool>("removed");

    QTest::newRow("0.jpg") << "0.jpg" << false << true;
    QTest::newRow("12.jpg") << "12.jpg" << false << true;
    QTest::newRow("large number") << "2147483647.jpg" << false << true;
    QTest::newRow("letters") << "a.jpg" << false << false;
    QTest::newRow("two dots") << "x.y.jpg" << false << false;
    QTest::newRow("number with two dots") << "1.5.jpg" << false << false;
    QTest::newRow("leading zeros") << "007.jpg" << false << false;
    QTest::newRow("double zero") << "00.jpg" << false << false;
    QTest::newRow("upper case") << "A.JPG" << false << false;
    QTest::newRow("upper-case suffix") << "0.JPG" << false << false;
    QTest::newRow("mixed-case suffix") << "0.Jpg" << false << false;
    QTest::newRow("jpeg suffix") << "b.jpeg" << false << false;
    QTest::newRow("number, jpeg suffix") << "1.jpeg" << false << false;
    QTest::newRow("suffix only") << ".jpg" << false << false;
    QTest::newRow("negative") << "-1.jpg" << false << false;
    QTest::newRow("plus sign") << "+1.jpg" << false << false;
    QTest::newRow("leading space") << " 1.jpg" << false << false;
    QTest::newRow("space before dot") << "1 .jpg" << false << false;
    QTest::newRow("trailing space") << "1.jpg " << false << false;
    QTest::newRow("trailing newline") << "1.jpg\n" << false << false;
    QTest::newRow("backup copy") << "1.jpg.bak" << false << false;
    QTest::newRow("non-ASCII digit") << QString::fromUtf8("\u0663.jpg") << false << false;
    QTest::newRow("directory") << "3.jpg" << true << false;
    QTest::newRow("in a subfolder") << "sub/5.jpg" << false << false;
}

void TestSnapshot::purge()
{
    QFETCH(QString, name);
    QFETCH(bool, directory);
    QFETCH(bool, removed);
#ifdef Q_OS_WIN
    if (name.contains('\n'))
        QSKIP("Windows file names cannot hold a newline");
#endif

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(name);
    QVERIFY(QDir().mkpath(QFileInfo(path).path()));
    if (directory)
        QVERIFY(QDir().mkdir(path));
    else
        QVERIFY(writeFile(path, "picture"));
    // A snapshot beside it shows that the purge did run.
    QVERIFY(writeFile(dir.filePath("9.jpg"), "snapshot"));

    purgeSnapshots(dir.path());

    QVERIFY(!QFileInfo::exists(dir.filePath("9.jpg")));
    QCOMPARE(!QFileInfo::exists(path), removed);
    if (!removed && !directory)
        QCOMPARE(readFile(path), QByteArray("picture"));
}

void TestSnapshot::nextRunPurgesWhatThisOneSaves_data()
{
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("name");

    QTest::newRow("first") << 0 << "0.jpg";
    QTest::newRow("two digits") << 12 << "12.jpg";
    QTest::newRow("largest count") << 2147483647 << "2147483647.jpg";
}

// The name a capture is saved under is the one the next start removes.
void TestSnapshot::nextRunPurgesWhatThisOneSaves()
{
    QFETCH(int, number);
    QFETCH(QString, name);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = snapshotPath(dir.path(), number);
    QCOMPARE(path, dir.filePath(name));
    QVERIFY(writeFile(path, "snapshot"));
    purgeSnapshots(dir.path());
    QVERIFY(!QFileInfo::exists(path));
}

void TestSnapshot::constructionPurgesProgramDirectory()
{
    const QStringList snapshots = {programDir + "/5.jpg", programDir + "/10.jpg"};
    const QStringList others
        = {programDir + "/holiday.jpg", programDir + "/07.jpg", programDir + "/6.JPG"};
    for (const QString &path : snapshots + others) {
        QVERIFY(claim(path));
        QVERIFY(writeFile(path, "picture"));
    }
    const QString directory = programDir + "/8.jpg";
    QVERIFY(claim(directory));
    QVERIFY(QDir().mkdir(directory));

    Widget another;

    for (const QString &path : snapshots)
        QVERIFY2(!QFileInfo::exists(path), qPrintable(path));
    for (const QString &path : others)
        QCOMPARE(readFile(path), QByteArray("picture"));
    QVERIFY(QFileInfo(directory).isDir());
    QCOMPARE(WidgetTestAccess::captureCount(another), 0);
    QVERIFY(!WidgetTestAccess::captureRequested(another));
}

void TestSnapshot::takenNameIsSkipped_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("directory");

    QTest::newRow("file put there after start") << "0.jpg" << false;
    QTest::newRow("directory") << "0.jpg" << true;
    QTest::newRow("same name in capitals") << "0.JPG" << false;
}

// Whatever took the next name after start stays as it is; the capture goes
// to the next free number and the count goes on from there.
void TestSnapshot::takenNameIsSkipped()
{
    QFETCH(QString, name);
    QFETCH(bool, directory);

    const QString path = programDir + '/' + name;
    QVERIFY(claim(path));
    if (directory)
        QVERIFY(QDir().mkdir(path));
    else
        QVERIFY(writeFile(path, "the user's picture"));
    if (!QFileInfo::exists(snapshot(0)))
        QSKIP("File names are case-sensitive here: 0.JPG does not take the name 0.jpg");

    const QByteArray picture = jpeg(Qt::red);
    clickCapture();
    feed(framed(picture));

    if (directory)
        QVERIFY(QFileInfo(path).isDir());
    else
        QCOMPARE(readFile(path), QByteArray("the user's picture"));
    QCOMPARE(readFile(snapshot(1)), picture);
    QCOMPARE(WidgetTestAccess::captureCount(*widget), 2);
    QVERIFY(log->debugLines().isEmpty());
    QVERIFY(captureButton()->isEnabled());
}

// Two programs in one folder, each with its own count from 0.
void TestSnapshot::twoWindowsCaptureInTurn()
{
    Widget other;
    const QByteArray pictures[] = {jpeg(Qt::red), jpeg(Qt::green), jpeg(Qt::blue), jpeg(Qt::cyan)};

    captureOne(*widget, pictures[0]);
    captureOne(other, pictures[1]);
    captureOne(*widget, pictures[2]);
    captureOne(other, pictures[3]);

    for (int n = 0; n < 4; ++n)
        QCOMPARE(readFile(snapshot(n)), pictures[n]);
    QCOMPARE(WidgetTestAccess::captureCount(*widget), 3);
    QCOMPARE(WidgetTestAccess::captureCount(other), 4);
    QVERIFY(log->debugLines().isEmpty());
}

void TestSnapshot::unwritableSnapshot()
{
    if (const char *why = FileSizeLimit::unavailable())
        QSKIP(why);
    QByteArray picture = jpeg(Qt::blue);
    picture.append(20000, '\0');

    clickCapture();
    bool limited = false;
    {
        FileSizeLimit limit(4096);
        limited = limit.active;
        feed(framed(picture));
    }
    QVERIFY(limited);

    // A full disk takes the pictures folder with it: nowhere to write.
    QVERIFY(!QFileInfo::exists(snapshot(0)));
    QCOMPARE(filesUnder(pictures->path()), (QMap<QString, QByteArray> {}));
    checkFailedCaptureAndRetry(picture);
}

// After a failed capture of picture as 0.jpg: one log line, the arming cleared,
// the button back, the frame still shown, and a retry saved as 1.jpg.
void TestSnapshot::checkFailedCaptureAndRetry(const QByteArray &picture)
{
    QCOMPARE(log->debugLines(), QStringList {"Capture failed!"});
    QVERIFY(log->otherLines().isEmpty());
    QVERIFY(!WidgetTestAccess::captureRequested(*widget));
    QVERIFY(captureButton()->isEnabled());
    QVERIFY(displayStartsWith(picture));

    log->clear();
    clickCapture();
    feed(framed(picture));
    QCOMPARE(readFile(snapshot(1)), picture);
    QVERIFY(log->debugLines().isEmpty());
}

void TestSnapshot::writeFailures_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("length");
    // Largest file this process may write, or -1 for no limit.
    QTest::addColumn<int>("sizeLimit");
    QTest::addColumn<SnapshotWrite>("outcome");

    constexpr auto failed = SnapshotWrite::Failed;
    constexpr auto taken = SnapshotWrite::NameTaken;
    constexpr auto written = SnapshotWrite::Written;
    QTest::newRow("parent is a regular file") << "plain/0.jpg" << 100 << -1 << failed;
    QTest::newRow("parent missing") << "missing/0.jpg" << 100 << -1 << failed;
    QTest::newRow("name taken by a directory") << "taken" << 100 << -1 << taken;
    QTest::newRow("name taken by a file") << "plain" << 100 << -1 << taken;
    QTest::newRow("nothing fits") << "0.jpg" << 100 << 0 << failed;
    QTest::newRow("fails on flush") << "0.jpg" << 100 << 10 << failed;
    QTest::newRow("fails on write") << "0.jpg" << 200000 << 1000 << failed;
    QTest::newRow("one byte too many") << "0.jpg" << 1001 << 1000 << failed;
    QTest::newRow("fits the limit exactly") << "0.jpg" << 1000 << 1000 << written;
    QTest::newRow("no limit") << "0.jpg" << 200000 << -1 << written;
}

void TestSnapshot::writeFailures()
{
    QFETCH(QString, name);
    QFETCH(int, length);
    QFETCH(int, sizeLimit);
    QFETCH(SnapshotWrite, outcome);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(writeFile(dir.filePath("plain"), "not a directory"));
    QVERIFY(QDir(dir.path()).mkdir("taken"));
    const QString path = dir.filePath(name);
    const QByteArray data = awkwardBytes(length);

    auto result = SnapshotWrite::Failed;
    if (sizeLimit < 0) {
        result = writeSnapshotFile(path, data.constData(), data.size());
    } else {
        if (const char *why = FileSizeLimit::unavailable())
            QSKIP(why);
        FileSizeLimit limit(sizeLimit);
        QVERIFY(limit.active);
        result = writeSnapshotFile(path, data.constData(), data.size());
    }

    QCOMPARE(result, outcome);
    if (outcome == SnapshotWrite::Written)
        QCOMPARE(readFile(path), data);
    else if (outcome == SnapshotWrite::Failed)
        QVERIFY(!QFileInfo::exists(path));
    QCOMPARE(readFile(dir.filePath("plain")), QByteArray("not a directory"));
    QVERIFY(QFileInfo(dir.filePath("taken")).isDir());
}

void TestSnapshot::searchForFreeName_data()
{
    QTest::addColumn<QList<int>>("taken");
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("attempts");
    // The number written, or -1 for none.
    QTest::addColumn<int>("written");
    QTest::addColumn<int>("next");

    constexpr int kMax = std::numeric_limits<qint32>::max();
    QTest::newRow("free") << QList<int> {} << 0 << 10 << 0 << 1;
    QTest::newRow("taken ones skipped") << QList<int> {0, 1, 3} << 0 << 10 << 2 << 3;
    QTest::newRow("below the count ignored") << QList<int> {0} << 4 << 10 << 4 << 5;
    QTest::newRow("gives up") << QList<int> {5, 6, 7} << 5 << 3 << -1 << 8;
    QTest::newRow("last free number") << QList<int> {kMax - 1} << kMax - 1 << 10 << kMax << kMax;
    QTest::newRow("no number left") << QList<int> {kMax} << kMax << 10 << -1 << kMax;
}

void TestSnapshot::searchForFreeName()
{
    QFETCH(QList<int>, taken);
    QFETCH(int, first);
    QFETCH(int, attempts);
    QFETCH(int, written);
    QFETCH(int, next);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    for (int n : taken)
        QVERIFY(writeFile(snapshotPath(dir.path(), n), "taken"));
    const QByteArray data = jpeg(Qt::gray);

    qint32 number = first;
    QCOMPARE(saveSnapshotFile(dir.path(), &number, data.constData(), data.size(), attempts),
             written >= 0 ? snapshotPath(dir.path(), written) : QString());

    QCOMPARE(number, next);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), taken.size() + (written >= 0));
    for (int n : taken)
        QCOMPARE(readFile(snapshotPath(dir.path(), n)), QByteArray("taken"));
    if (written >= 0)
        QCOMPARE(readFile(snapshotPath(dir.path(), written)), data);
}

// Programs capturing at the same moment, each counting from 0: every name is
// won by exactly one of them, and no picture is lost or overwritten.
void TestSnapshot::capturesAtOnceNeverShareAName()
{
    constexpr int kWriters = 4;
    constexpr int kEach = 50;
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QAtomicInt ready = 0;
    QAtomicInt failures = 0;
    std::vector<std::unique_ptr<QThread>> writers;
    for (int w = 0; w < kWriters; ++w) {
        writers.emplace_back(QThread::create([&, w] {
            ready.fetchAndAddOrdered(1);
            while (ready.loadAcquire() < kWriters)
                QThread::yieldCurrentThread();
            qint32 number = 0;
            for (int i = 0; i < kEach; ++i) {
                const QByteArray data = QByteArray::number(w * 1000 + i);
                if (saveSnapshotFile(dir.path(), &number, data.constData(), data.size()).isEmpty())
                    failures.fetchAndAddOrdered(1);
            }
        }));
        writers.back()->start();
    }
    for (auto &writer : writers)
        QVERIFY(writer->wait(60000));

    QCOMPARE(failures.loadAcquire(), 0);
    QSet<QByteArray> found;
    for (int n = 0; n < kWriters * kEach; ++n)
        found.insert(readFile(snapshotPath(dir.path(), n)));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), kWriters * kEach);
    for (int w = 0; w < kWriters; ++w) {
        for (int i = 0; i < kEach; ++i)
            QVERIFY(found.contains(QByteArray::number(w * 1000 + i)));
    }
}

void TestSnapshot::writesUnderNonAsciiDirectory()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString folder = dir.filePath(QString::fromUtf8("Schnappsch\u00fcsse \u5199\u771f"));
    QVERIFY(QDir().mkdir(folder));
    const QByteArray data = jpeg(Qt::gray);

    QCOMPARE(writeSnapshotFile(folder + "/0.jpg", data.constData(), data.size()),
             SnapshotWrite::Written);

    QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList {"0.jpg"});
    QCOMPARE(readFile(folder + "/0.jpg"), data);
}

void TestSnapshot::whereCaptureGoes_data()
{
    QTest::addColumn<bool>("packaged");
    QTest::addColumn<Place>("program");
    QTest::addColumn<Place>("picturesRoot");
    // "program", "pictures", or empty for nowhere.
    QTest::addColumn<QString>("expected");

    constexpr auto writable = Place::Writable;
    constexpr auto missing = Place::Missing;
    constexpr auto notAFolder = Place::NotAFolder;
    QTest::newRow("portable") << false << writable << writable << "program";
    QTest::newRow("portable, program folder gone") << false << missing << writable << "pictures";
    QTest::newRow("portable, a file for a program folder")
        << false << notAFolder << writable << "pictures";
    QTest::newRow("portable, refused, no pictures folder yet")
        << false << missing << missing << "pictures";
    QTest::newRow("portable, nowhere to write") << false << missing << notAFolder << "";
    QTest::newRow("packaged") << true << writable << writable << "pictures";
    QTest::newRow("packaged, no pictures folder yet") << true << writable << missing << "pictures";
    QTest::newRow("packaged, nowhere to write") << true << writable << notAFolder << "";
}

// One start and one Capture in each setting: the file, the log, the
// button's tooltip and what it tells screen readers, and what the start
// did beside the program.
void TestSnapshot::whereCaptureGoes()
{
    QFETCH(bool, packaged);
    QFETCH(Place, program);
    QFETCH(Place, picturesRoot);
    QFETCH(QString, expected);

    QTemporaryDir sandbox;
    QVERIFY(sandbox.isValid());
    const QString programFolder = sandbox.filePath("program");
    const QString picturesFolder = sandbox.filePath("pictures");
    const QString orvexFolder = picturesSnapshotFolder(picturesFolder);
    QCOMPARE(orvexFolder, picturesFolder + "/Orvex");
    QVERIFY(makePlace(programFolder, program));
    QVERIFY(makePlace(picturesFolder, picturesRoot));
    // An earlier run's snapshot: only a portable program purges it.
    if (program == Place::Writable)
        QVERIFY(writeFile(programFolder + "/5.jpg", "earlier"));
    const QMap<QString, QByteArray> before = filesUnder(sandbox.path());

    useSnapshotPlaces(SnapshotPlaces {packaged ? QString() : programFolder, picturesFolder});
    Widget w;
    QPushButton *button = WidgetTestAccess::form(w)->CatptureBtn;
    const QString folder = expected == "program" ? programFolder : orvexFolder;
    QVERIFY2(button->toolTip().contains(native(folder)), qPrintable(button->toolTip()));
    const QImage atRest = button->grab().toImage();

    const QByteArray picture = jpeg(Qt::red);
    button->click();
    WidgetTestAccess::feed(w, framed(picture));

    QMap<QString, QByteArray> after = before;
    if (program == Place::Writable && !packaged)
        after.remove("program/5.jpg");
    if (!expected.isEmpty())
        after.insert(QDir(sandbox.path()).relativeFilePath(folder) + "/0.jpg", picture);
    QCOMPARE(filesUnder(sandbox.path()), after);
    QVERIFY(!WidgetTestAccess::captureRequested(w));
    QVERIFY(button->isEnabled());
    if (expected.isEmpty()) {
        QCOMPARE(log->debugLines(), QStringList {"Capture failed!"});
        QVERIFY(button->accessibleDescription().startsWith("Capture failed!"));
        QCOMPARE(button->toolTip(), button->accessibleDescription());
        QVERIFY(button->toolTip().contains(native(orvexFolder)));
    } else {
        QVERIFY(log->debugLines().isEmpty());
        QCOMPARE(button->accessibleDescription(), "Saved " + native(folder + "/0.jpg"));
        QVERIFY2(button->toolTip().contains(native(folder)), qPrintable(button->toolTip()));
        // A success looks like no Capture at all.
        QCOMPARE(button->grab().toImage(), atRest);
    }
}

void TestSnapshot::picturesFolderKeepsWhatIsThere_data()
{
    QTest::addColumn<QString>("program");
    // Below the pictures folder, in the order the Captures made them.
    QTest::addColumn<QStringList>("made");

    const QStringList afterTheLargest = {"Orvex/10.jpg", "Orvex/11.jpg", "Orvex/12.jpg",
                                         "Orvex/13.jpg", "Orvex/14.jpg", "Orvex/15.jpg"};
    QTest::newRow("program folder refuses") << "missing" << afterTheLargest;
    QTest::newRow("packaged") << "" << afterTheLargest;
    // A portable program there saves beside itself and passes over taken
    // names, but purges nothing at start.
    QTest::newRow("program in the pictures folder")
        << "pictures" << QStringList {"1.jpg", "2.jpg", "4.jpg", "5.jpg", "6.jpg", "7.jpg"};
    QTest::newRow("program in the Orvex folder")
        << "pictures/Orvex" << QStringList {"Orvex/1.jpg", "Orvex/3.jpg", "Orvex/4.jpg",
                                            "Orvex/5.jpg", "Orvex/6.jpg", "Orvex/7.jpg"};
}

// Three starts of two Captures each, among the user's own numbered files.
void TestSnapshot::picturesFolderKeepsWhatIsThere()
{
    QFETCH(QString, program);
    QFETCH(QStringList, made);

    QTemporaryDir sandbox;
    QVERIFY(sandbox.isValid());
    const QString picturesFolder = sandbox.filePath("pictures");
    const QMap<QString, QByteArray> usersOwn = {
        {"0.jpg", "the user's 0"},       {"3.jpg", "the user's 3"},
        {"Orvex/0.jpg", "the user's 0"}, {"Orvex/2.jpg", "the user's 2"},
        {"Orvex/9.JPG", "the user's 9"}, {"Orvex/12.jpeg", "not a snapshot's name"},
        {"Orvex/x.jpg", "not a number"}, {"Orvex/sub/30.jpg", "in a folder below"},
    };
    for (auto it = usersOwn.begin(); it != usersOwn.end(); ++it) {
        const QString path = picturesFolder + '/' + it.key();
        QVERIFY(QDir().mkpath(QFileInfo(path).path()));
        QVERIFY(writeFile(path, it.value()));
    }
    useSnapshotPlaces(
        SnapshotPlaces {program.isEmpty() ? QString() : sandbox.filePath(program), picturesFolder});

    QMap<QString, QByteArray> expected = usersOwn;
    for (int start = 0; start < 3; ++start) {
        Widget w;
        for (int i = 0; i < 2; ++i) {
            const int n = 2 * start + i;
            const QByteArray picture = jpeg(QColor::fromHsv(n * 60, 255, 255));
            captureOne(w, picture);
            expected.insert(made[n], picture);
        }
    }

    QCOMPARE(filesUnder(picturesFolder), expected);
    QVERIFY(log->debugLines().isEmpty());
}

// Each Capture tries the program's folder anew: no answer is kept.
void TestSnapshot::folderThatTurnsWritableIsUsed()
{
    QTemporaryDir sandbox;
    QVERIFY(sandbox.isValid());
    const QString programFolder = sandbox.filePath("program");
    const QString orvexFolder = picturesSnapshotFolder(sandbox.filePath("pictures"));
    useSnapshotPlaces(SnapshotPlaces {programFolder, sandbox.filePath("pictures")});
    Widget w;
    QPushButton *button = WidgetTestAccess::form(w)->CatptureBtn;
    const QByteArray first = jpeg(Qt::red);
    const QByteArray second = jpeg(Qt::blue);

    captureOne(w, first);
    QVERIFY(button->toolTip().contains(native(orvexFolder)));
    QVERIFY(QDir().mkdir(programFolder));
    captureOne(w, second);

    // The name tried and refused before is not tried again.
    QCOMPARE(
        filesUnder(sandbox.path()),
        (QMap<QString, QByteArray> {{"pictures/Orvex/0.jpg", first}, {"program/1.jpg", second}}));
    QVERIFY(button->toolTip().contains(native(programFolder)));
    QVERIFY(log->debugLines().isEmpty());
}

// Nowhere to write: the Capture button says so at once, and for long
// enough to be seen, then looks as before.
void TestSnapshot::failedCaptureStandsOut()
{
    QTemporaryDir sandbox;
    QVERIFY(sandbox.isValid());
    const QString picturesFolder = sandbox.filePath("pictures");
    QVERIFY(writeFile(picturesFolder, "not a folder"));
    useSnapshotPlaces(SnapshotPlaces {sandbox.filePath("missing"), picturesFolder});
    Widget w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QPushButton *button = WidgetTestAccess::form(w)->CatptureBtn;
    // Clicked without the mouse: no focus frame or hover look to tell apart.
    const QImage atRest = button->grab().toImage();
    button->click();
    const QImage armed = button->grab().toImage();
    const QByteArray picture = jpeg(Qt::green);
    WidgetTestAccess::feed(w, framed(picture));
    QElapsedTimer shown;
    shown.start();

    QVERIFY(button->isEnabled());
    const QImage failed = button->grab().toImage();
    QVERIFY(failed != atRest);
    QVERIFY(failed != armed);
    QVERIFY(button->accessibleDescription().startsWith("Capture failed!"));
    QVERIFY(
        std::memcmp(WidgetTestAccess::displayBuffer(w), picture.constData(), size_t(picture.size()))
        == 0);

    QTRY_VERIFY_WITH_TIMEOUT(button->grab().toImage() == atRest, 10000);
    QVERIFY2(shown.elapsed() >= 2000, qPrintable(QString::number(shown.elapsed())));
    QCOMPARE(button->text(), QString("Capture"));

    // The next Capture puts the button back at once.
    button->click();
    WidgetTestAccess::feed(w, framed(picture));
    QVERIFY(button->grab().toImage() != atRest);
    button->click();
    QCOMPARE(button->grab().toImage(), armed);
    QCOMPARE(log->debugLines(), QStringList({"Capture failed!", "Capture failed!"}));
}

// The build's own places, not a test's: ORVEX_CAPTURE_TO_PICTURES decides
// whether the program's folder is used at all.
void TestSnapshot::buildsOwnPlaces()
{
#ifdef Q_OS_WIN
    if (ORVEX_CAPTURE_TO_PICTURES)
        QSKIP("Windows' pictures folder cannot be moved out of the way here");
#endif
    QTemporaryDir home;
    QVERIFY(home.isValid());
    const EnvironmentOverride homeOverride("HOME", QFile::encodeName(home.path()));
    const EnvironmentOverride configOverride("XDG_CONFIG_HOME",
                                             QFile::encodeName(home.filePath(".config")));
    const QString earlier = programDir + "/6.jpg";
    QVERIFY(claim(earlier));
    QVERIFY(writeFile(earlier, "earlier"));

    useSnapshotPlaces(std::nullopt);
    QCOMPARE(currentSnapshotPlaces().programFolder,
             ORVEX_CAPTURE_TO_PICTURES ? QString() : programDir);
    Widget w;
    const QByteArray picture = jpeg(Qt::darkCyan);
    captureOne(w, picture);

    if (ORVEX_CAPTURE_TO_PICTURES) {
        QCOMPARE(readFile(earlier), QByteArray("earlier"));
        QVERIFY(!QFileInfo::exists(snapshot(0)));
        QCOMPARE(filesUnder(home.path()),
                 (QMap<QString, QByteArray> {{"Pictures/Orvex/0.jpg", picture}}));
    } else {
        QVERIFY(!QFileInfo::exists(earlier));
        QCOMPARE(readFile(snapshot(0)), picture);
        QCOMPARE(filesUnder(home.path()), (QMap<QString, QByteArray> {}));
    }
}

#ifdef Q_OS_UNIX
void TestSnapshot::honoursXdgPicturesFolder_data()
{
    QTest::addColumn<QByteArray>("userDirs");
    // Below the home folder.
    QTest::addColumn<QString>("saved");

    QTest::newRow("no user-dirs.dirs") << QByteArray() << "Pictures/Orvex/0.jpg";
    QTest::newRow("a folder of its own")
        << QByteArray("XDG_PICTURES_DIR=\"$HOME/Fotos und Bilder\"\n")
        << "Fotos und Bilder/Orvex/0.jpg";
    QTest::newRow("the home folder itself")
        << QByteArray("XDG_PICTURES_DIR=\"$HOME/\"\n") << "Orvex/0.jpg";
}

// The pictures folder as the desktop names it, from a program folder that
// refuses the snapshot.
void TestSnapshot::honoursXdgPicturesFolder()
{
    QFETCH(QByteArray, userDirs);
    QFETCH(QString, saved);

    QTemporaryDir home;
    QVERIFY(home.isValid());
    const EnvironmentOverride homeOverride("HOME", QFile::encodeName(home.path()));
    const EnvironmentOverride configOverride("XDG_CONFIG_HOME",
                                             QFile::encodeName(home.filePath(".config")));
    if (!userDirs.isEmpty()) {
        QVERIFY(QDir().mkpath(home.filePath(".config")));
        QVERIFY(writeFile(home.filePath(".config/user-dirs.dirs"), userDirs));
    }
    QVERIFY(writeFile(home.filePath("0.jpg"), "the user's"));
    const QMap<QString, QByteArray> before = filesUnder(home.path());

    useSnapshotPlaces(SnapshotPlaces {home.filePath("missing"), QString()});
    Widget w;
    const QByteArray picture = jpeg(Qt::darkYellow);
    captureOne(w, picture);

    QMap<QString, QByteArray> after = before;
    after.insert(saved, picture);
    QCOMPARE(filesUnder(home.path()), after);
}
#endif

QTEST_MAIN(TestSnapshot)
#include "tst_snapshot.moc"
