// SPDX-License-Identifier: MIT
#include "snapshot.h"

#include "widget.h"
#include "widgetform.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPushButton>
#include <QRegularExpression>

#include <cerrno>
#include <cstdio>
#include <limits>

#ifdef Q_OS_WIN
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

void removeFile(const QString &path)
{
#ifdef Q_OS_WIN
    _wremove(reinterpret_cast<const wchar_t *>(path.utf16()));
#else
    std::remove(QFile::encodeName(path).constData());
#endif
}

// Creates the file, failing if anything is at path already: the check and
// the creation are one step, so of two programs after the same name only one
// gets it. Opened with the C runtime so the bytes go out unchanged, by a name
// that survives non-ASCII directories (Windows needs the wide-character call).
std::FILE *createForWriting(const QString &path, bool *taken)
{
#ifdef Q_OS_WIN
    const int fd
        = _wopen(reinterpret_cast<const wchar_t *>(path.utf16()),
                 _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
#else
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
#endif
    if (fd < 0) {
        // Windows reports a directory in the way as a denied access.
        *taken = errno == EEXIST || QFileInfo::exists(path);
        return nullptr;
    }
    *taken = false;
#ifdef Q_OS_WIN
    std::FILE *file = _fdopen(fd, "wb");
    if (!file) {
        _close(fd);
        removeFile(path);
    }
#else
    std::FILE *file = fdopen(fd, "wb");
    if (!file) {
        ::close(fd);
        removeFile(path);
    }
#endif
    return file;
}

} // namespace

void purgeSnapshots(const QString &directory)
{
    // Anchored on the whole name: a "$" would also accept a name ending in a newline.
    static const QRegularExpression snapshotName(
        QRegularExpression::anchoredPattern(QStringLiteral("(0|[1-9][0-9]*)\\.jpg")));

    const QFileInfoList entries = QDir(directory).entryInfoList(QDir::Files);
    for (const QFileInfo &entry : entries) {
        if (snapshotName.match(entry.fileName()).hasMatch())
            QFile::remove(entry.filePath());
    }
}

QString snapshotPath(const QString &directory, int n)
{
    return directory + QString::asprintf("/%d.jpg", n);
}

SnapshotWrite writeSnapshotFile(const QString &path, const char *data, int length)
{
    bool taken = false;
    std::FILE *file = createForWriting(path, &taken);
    if (!file)
        return taken ? SnapshotWrite::NameTaken : SnapshotWrite::Failed;

    bool ok = std::fwrite(data, 1, size_t(length), file) == size_t(length);
    ok = std::fflush(file) == 0 && ok;
    ok = std::fclose(file) == 0 && ok;
    // The file is ours, made above: a part-written picture is worse than none.
    if (!ok)
        removeFile(path);
    return ok ? SnapshotWrite::Written : SnapshotWrite::Failed;
}

bool saveSnapshotFile(const QString &directory, qint32 *number, const char *data, int length,
                      int attempts)
{
    for (int tried = 0; tried < attempts; ++tried) {
        const qint32 n = *number;
        const SnapshotWrite result = writeSnapshotFile(snapshotPath(directory, n), data, length);
        if (n < std::numeric_limits<qint32>::max())
            *number = n + 1;
        if (result != SnapshotWrite::NameTaken)
            return result == SnapshotWrite::Written;
        if (n == std::numeric_limits<qint32>::max())
            break;
    }
    return false;
}

void Widget::on_CatptureBtn_clicked()
{
    if (captureRequested)
        return;
    captureRequested = true;
    form->CatptureBtn->setEnabled(false);
}

void Widget::saveSnapshot()
{
    if (!saveSnapshotFile(QCoreApplication::applicationDirPath(), &captureCount, frameBuffer,
                          frameLength))
        qDebug("Capture failed!");

    captureRequested = false;
    form->CatptureBtn->setEnabled(true);
}
