#include "snapshot.h"

#include "widget.h"
#include "widgetform.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPushButton>
#include <QRegularExpression>

#include <cstdio>

namespace {

// Opens with the C runtime so the bytes go out unchanged, but by a name that
// survives non-ASCII directories: Windows needs the wide-character call.
std::FILE *openForWriting(const QString &path)
{
#ifdef Q_OS_WIN
    return _wfopen(reinterpret_cast<const wchar_t *>(path.utf16()), L"wb");
#else
    return std::fopen(QFile::encodeName(path).constData(), "wb");
#endif
}

void removeFile(const QString &path)
{
#ifdef Q_OS_WIN
    _wremove(reinterpret_cast<const wchar_t *>(path.utf16()));
#else
    std::remove(QFile::encodeName(path).constData());
#endif
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

bool writeSnapshotFile(const QString &path, const char *data, int length)
{
    std::FILE *file = openForWriting(path);
    if (!file)
        return false;

    bool ok = std::fwrite(data, 1, size_t(length), file) == size_t(length);
    ok = std::fflush(file) == 0 && ok;
    ok = std::fclose(file) == 0 && ok;
    // Only a regular file we made is ours to remove, never a device like /dev/full.
    if (!ok && QFileInfo(path).isFile())
        removeFile(path);
    return ok;
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
    const QString path = snapshotPath(QCoreApplication::applicationDirPath(), captureCount);
    ++captureCount;

    if (!writeSnapshotFile(path, frameBuffer, frameLength))
        qDebug("Capture failed!");

    captureRequested = false;
    form->CatptureBtn->setEnabled(true);
}
