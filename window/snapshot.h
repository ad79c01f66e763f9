// SPDX-License-Identifier: MIT
#ifndef SNAPSHOT_H
#define SNAPSHOT_H

#include <QString>

#include <optional>

// Where Capture saves. Each Capture tries the program's own folder first, as
// a portable copy always has; whenever that fails for any reason but a taken
// name (an installed program, a read-only file system, a full disk), the
// same frame goes into an Orvex folder in the user's pictures folder.
struct SnapshotPlaces
{
    // Tried first; the snapshots of an earlier run are purged here at start.
    // Empty in a packaged build, which never writes or purges beside the
    // program: its folder belongs to the system.
    QString programFolder;
    // The user's pictures folder, the Orvex folder's parent. Empty: the one
    // Qt names for this user (XDG_PICTURES_DIR, the Pictures known folder),
    // asked at each Capture.
    QString picturesFolder;
};

// The places of this build: ORVEX_CAPTURE_TO_PICTURES leaves out the
// program's folder. Needs the application object.
SnapshotPlaces buildSnapshotPlaces();

// What windows made from now on use: places, or with std::nullopt the
// build's own again. Tests choose folders of their own with it, so that
// nothing lands beside a real program or among a real user's pictures.
void useSnapshotPlaces(std::optional<SnapshotPlaces> places);
SnapshotPlaces currentSnapshotPlaces();

// <pictures>/Orvex, never purged: files there may well be the user's.
QString picturesSnapshotFolder(const QString &picturesFolder);

// Whether a file can be created in directory now. Asked only to tell the
// user where Capture is likely to save; Capture itself always just tries.
bool canCreateFileIn(const QString &directory);

// Removes the snapshots an earlier run left in directory: regular files named
// <n>.jpg, n a decimal number without leading zeros. Other pictures stay.
void purgeSnapshots(const QString &directory);

// Where snapshot number n goes in directory: <directory>/<n>.jpg.
QString snapshotPath(const QString &directory, int n);

// The number after the largest <n>.jpg in directory (in any letter case), so
// that numbers there keep the order in which the pictures were taken; 0 when
// there is none, or when no number is left after the largest.
qint32 numberAfterLargestSnapshot(const QString &directory);

enum class SnapshotWrite { Written, NameTaken, Failed };

// Writes length bytes to a new file at path, which it creates: whatever is
// already there, whoever put it there, is left alone (NameTaken). On any
// other failure nothing is left behind at path (Failed).
SnapshotWrite writeSnapshotFile(const QString &path, const char *data, int length);

// How many taken names one capture passes over before it gives up.
constexpr int kSnapshotNameAttempts = 10000;

// Writes length bytes to <directory>/<n>.jpg for the first n from *number on
// whose name is free, trying at most attempts names. *number moves past each
// name tried, so the next capture goes on from there; it stops at the largest
// number. Returns the file written, or an empty string when nothing was.
QString saveSnapshotFile(const QString &directory, qint32 *number, const char *data, int length,
                         int attempts = kSnapshotNameAttempts);

#endif // SNAPSHOT_H
