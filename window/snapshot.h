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

// Writes length bytes to a new file at path. On any failure nothing is left
// behind at path and false is returned.
bool writeSnapshotFile(const QString &path, const char *data, int length);

#endif // SNAPSHOT_H
