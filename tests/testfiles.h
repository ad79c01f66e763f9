// SPDX-License-Identifier: MIT
#ifndef TESTFILES_H
#define TESTFILES_H

#include <QByteArray>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QMap>
#include <QString>

// Whole files in and out, for tests that judge what landed where.

inline QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Every file under directory, by its path below it, with its bytes.
inline QMap<QString, QByteArray> filesUnder(const QString &directory)
{
    QMap<QString, QByteArray> files;
    QDirIterator it(directory, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        files.insert(QDir(directory).relativeFilePath(path), readFile(path));
    }
    return files;
}

#endif // TESTFILES_H
