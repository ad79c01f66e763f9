// SPDX-License-Identifier: MIT
#ifndef SNAPSHOT_H
#define SNAPSHOT_H

#include <QtGlobal>

QT_BEGIN_NAMESPACE
class QString;
QT_END_NAMESPACE

// Removes the snapshots an earlier run left in directory: regular files named
// <n>.jpg, n a decimal number without leading zeros. Other pictures stay.
void purgeSnapshots(const QString &directory);

// Where snapshot number n goes in directory: <directory>/<n>.jpg.
QString snapshotPath(const QString &directory, int n);

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
// number. False when nothing was written.
bool saveSnapshotFile(const QString &directory, qint32 *number, const char *data, int length,
                      int attempts = kSnapshotNameAttempts);

#endif // SNAPSHOT_H
