// SPDX-License-Identifier: MIT
#ifndef PICTURESOURCE_H
#define PICTURESOURCE_H

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QVector>

// Where the pictures come from. frame() is called once per frame made, and
// its bytes are then shared by all clients.
class PictureSource
{
public:
    virtual ~PictureSource() = default;
    // The JPEG file for frame number (counting from 1).
    virtual QByteArray frame(quint64 number) = 0;
};

// A generated picture that shows motion, the frame number and the time of
// day, so stalls, dropped frames and latency can be seen on screen.
class TestPattern : public PictureSource
{
public:
    TestPattern(const QSize &size, int quality);
    QByteArray frame(quint64 number) override;

private:
    QImage render(quint64 number) const;

    QSize size;
    int quality;
    QImage background;
};

// The .jpg files of a folder in name order, looping, sent as they are. They
// are read once at the start, so a frame never waits for the disk.
class ReplaySource : public PictureSource
{
public:
    // *error is set, and the source is unusable, when there is no file to send.
    ReplaySource(const QString &dir, QString *error);
    QByteArray frame(quint64 number) override;

private:
    QVector<QByteArray> pictures;
};

#endif // PICTURESOURCE_H
