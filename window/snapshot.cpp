// SPDX-License-Identifier: MIT
#include "snapshot.h"

#include "widget.h"
#include "widgetform.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPalette>
#include <QPushButton>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryFile>

#include <cerrno>
#include <cstdio>
#include <limits>
#include <utility>

#ifdef Q_OS_WIN
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

#ifndef ORVEX_CAPTURE_TO_PICTURES
#error "ORVEX_CAPTURE_TO_PICTURES must be 1 for a packaged build, else 0"
#endif

namespace {

// A failed Capture stays marked on its button this long.
constexpr int kCaptureFailedNoticeMs = 3000;

// Numbered snapshot names, anchored on the whole name: a "$" would also
// accept a name ending in a newline.
QRegularExpression snapshotName(QRegularExpression::PatternOptions options = {})
{
    return QRegularExpression(
        QRegularExpression::anchoredPattern(QStringLiteral("(0|[1-9][0-9]*)\\.jpg")), options);
}

std::optional<SnapshotPlaces> &placesInUse()
{
    static std::optional<SnapshotPlaces> places;
    return places;
}

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

SnapshotPlaces buildSnapshotPlaces()
{
#if ORVEX_CAPTURE_TO_PICTURES
    return {};
#else
    return {QCoreApplication::applicationDirPath(), QString()};
#endif
}

void useSnapshotPlaces(std::optional<SnapshotPlaces> places)
{
    placesInUse() = std::move(places);
}

SnapshotPlaces currentSnapshotPlaces()
{
    return placesInUse() ? *placesInUse() : buildSnapshotPlaces();
}

QString picturesSnapshotFolder(const QString &picturesFolder)
{
    return picturesFolder + QStringLiteral("/Orvex");
}

bool canCreateFileIn(const QString &directory)
{
    // Removed again at once; where the system allows, it never even has a name.
    QTemporaryFile probe(directory + QStringLiteral("/.orvex-XXXXXX"));
    return probe.open();
}

void purgeSnapshots(const QString &directory)
{
    static const QRegularExpression name = snapshotName();

    const QFileInfoList entries = QDir(directory).entryInfoList(QDir::Files);
    for (const QFileInfo &entry : entries) {
        if (name.match(entry.fileName()).hasMatch())
            QFile::remove(entry.filePath());
    }
}

QString snapshotPath(const QString &directory, int n)
{
    return directory + QString::asprintf("/%d.jpg", n);
}

qint32 numberAfterLargestSnapshot(const QString &directory)
{
    static const QRegularExpression name = snapshotName(QRegularExpression::CaseInsensitiveOption);

    qint64 largest = -1;
    const QStringList entries = QDir(directory).entryList(QDir::Files | QDir::Dirs | QDir::Hidden
                                                          | QDir::System | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        if (!name.match(entry).hasMatch())
            continue;
        bool ok = false;
        const qint64 n = entry.left(entry.indexOf(QLatin1Char('.'))).toLongLong(&ok);
        // Beyond what a capture could have been numbered: someone else's.
        if (ok && n <= std::numeric_limits<qint32>::max())
            largest = qMax(largest, n);
    }
    return largest < std::numeric_limits<qint32>::max() ? qint32(largest + 1) : 0;
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

QString saveSnapshotFile(const QString &directory, qint32 *number, const char *data, int length,
                         int attempts)
{
    for (int tried = 0; tried < attempts; ++tried) {
        const qint32 n = *number;
        const QString path = snapshotPath(directory, n);
        const SnapshotWrite result = writeSnapshotFile(path, data, length);
        if (n < std::numeric_limits<qint32>::max())
            *number = n + 1;
        if (result == SnapshotWrite::Written)
            return path;
        if (result == SnapshotWrite::Failed || n == std::numeric_limits<qint32>::max())
            break;
    }
    return QString();
}

QString Widget::picturesFolderNow() const
{
    const QString pictures = snapshotPlaces.picturesFolder.isEmpty()
        ? QStandardPaths::writableLocation(QStandardPaths::PicturesLocation)
        : snapshotPlaces.picturesFolder;
    return pictures.isEmpty() ? QString() : picturesSnapshotFolder(pictures);
}

// The numbered pictures in the user's pictures folders are the user's own,
// whoever took them: a program sitting in one of these folders purges nothing.
void Widget::purgeProgramFolder()
{
    const QString program = snapshotPlaces.programFolder;
    if (program.isEmpty())
        return;
    const QString pictures = picturesFolderNow();
    if (!pictures.isEmpty()
        && (QFileInfo(program) == QFileInfo(pictures)
            || QFileInfo(program) == QFileInfo(QFileInfo(pictures).path())))
        return;
    purgeSnapshots(program);
}

void Widget::on_CatptureBtn_clicked()
{
    if (captureRequested)
        return;
    endCaptureFailedNotice();
    captureRequested = true;
    form->CatptureBtn->setEnabled(false);
}

void Widget::saveSnapshot()
{
    QString saved;
    if (!snapshotPlaces.programFolder.isEmpty())
        saved = saveSnapshotFile(snapshotPlaces.programFolder, &captureCount, frameBuffer,
                                 frameLength);
    const QString pictures = picturesFolderNow();
    if (saved.isEmpty() && !pictures.isEmpty() && QDir().mkpath(pictures)) {
        // Numbers there go on from those of earlier runs, and of other programs.
        if (pictures != picturesCountFolder) {
            picturesCountFolder = pictures;
            picturesCount = numberAfterLargestSnapshot(pictures);
        }
        saved = saveSnapshotFile(pictures, &picturesCount, frameBuffer, frameLength);
    }

    captureRequested = false;
    form->CatptureBtn->setEnabled(true);
    if (saved.isEmpty()) {
        qDebug("Capture failed!");
        showCaptureFailed(pictures);
    } else {
        form->CatptureBtn->setAccessibleDescription(
            tr("Saved %1").arg(QDir::toNativeSeparators(saved)));
        showCaptureFolder(QFileInfo(saved).path());
    }
}

void Widget::showCaptureFolder(const QString &folder)
{
    form->CatptureBtn->setToolTip(
        folder.isEmpty()
            ? QString()
            : tr("Saves the next frame into %1").arg(QDir::toNativeSeparators(folder)));
}

// Set apart from a success for a few seconds, where the user looks: the
// button itself, in red, and in words for screen readers.
void Widget::showCaptureFailed(const QString &picturesFolder)
{
    QPushButton *button = form->CatptureBtn;
    QPalette palette = button->palette();
    palette.setColor(QPalette::ButtonText, QColor(0xb0, 0x00, 0x00));
    button->setPalette(palette);
    button->setText(tr("Not saved!"));
    QStringList folders;
    for (const QString &folder : {snapshotPlaces.programFolder, picturesFolder}) {
        if (!folder.isEmpty())
            folders << QDir::toNativeSeparators(folder);
    }
    // Where it tried; until a Capture succeeds, that is the best answer to
    // where Capture saves.
    const QString outcome
        = tr("Capture failed! Nothing could be saved into %1").arg(folders.join(tr(" or ")));
    button->setAccessibleDescription(outcome);
    button->setToolTip(outcome);
    captureFailedNotice.start(kCaptureFailedNoticeMs);
}

void Widget::endCaptureFailedNotice()
{
    captureFailedNotice.stop();
    // An empty palette takes the button's own again, as if none had been set.
    form->CatptureBtn->setPalette(QPalette());
    form->CatptureBtn->setText(tr("Capture"));
}
