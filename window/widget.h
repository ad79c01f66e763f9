// SPDX-License-Identifier: MIT
#ifndef WIDGET_H
#define WIDGET_H

#include "snapshot.h"
#include "streamformat.h"

#include <QHostAddress>
#include <QList>
#include <QTimer>
#include <QWidget>

#include <functional>

QT_BEGIN_NAMESPACE
class QDeadlineTimer;
class QTcpSocket;
QT_END_NAMESPACE

struct WidgetForm;
class Orvex;

// The socket's own buffer holds at most this much at a time, and the stream
// is read from it in pieces into storage the window keeps: what a read costs
// does not grow with how far behind the window has fallen.
constexpr int kSocketBufferSize = 1024 * 1024;
constexpr int kReadPieceSize = 64 * 1024;

// Looks up the addresses of a host name and calls done with them (none if the
// name is unknown) on the GUI thread, unless context is destroyed first. It
// may answer at once, late, or never: the window gives up waiting at its
// connect deadline and destroys context then.
using HostLookup = std::function<void(const QString &host, QObject *context,
                                      std::function<void(const QList<QHostAddress> &)> done)>;

// The main window: the form, the frame view, the camera connection and the
// assembly of frames from the stream.
class Widget : public QWidget
{
    Q_OBJECT

public:
    explicit Widget(QWidget *parent = nullptr);
    ~Widget() override;

    // False when the frame buffers could not be allocated; such a window
    // ignores the stream and the program should not go on.
    bool hasFrameBuffers() const { return frameBuffer && displayBuffer; }

    // Replaces the system's name lookup, which Start uses for a host that is
    // not an address.
    void setHostLookup(HostLookup lookup) { hostLookup = std::move(lookup); }

private slots:
    void on_socket_read();
    void on_socket_disconnected();
    void on_pushButton_clicked();
    void on_CatptureBtn_clicked();

private:
    void setUpKeyboard();
    void consumeChunk(const char *data, qint64 size);
    void endOfFrame();
    void resetFrameAssembly();
    void saveSnapshot();
    QString picturesFolderNow() const;
    void purgeProgramFolder();
    void showCaptureFolder(const QString &folder);
    void showCaptureFailed(const QString &picturesFolder);
    void endCaptureFailedNotice();
    // In widgetview.cpp, with the members that need Orvex's definition.
    void createView();
    void showInView(const char *data, int length);
    QList<QHostAddress> addressesOf(const QString &host, const QDeadlineTimer &deadline);
    bool connectSocket(const QList<QHostAddress> &addresses, quint16 port,
                       const QDeadlineTimer &deadline);

    WidgetForm *form = nullptr;
    Orvex *view = nullptr;
    QTcpSocket *socket = nullptr;
    qint32 frameLength = 0;
    qint32 inFrame = 0;
    qint32 markerState = 0;
    char *frameBuffer = nullptr;
    char *displayBuffer = nullptr;
    bool captureRequested = false;
    qint32 captureCount = 0;
    // Where Capture saves, fixed at construction.
    SnapshotPlaces snapshotPlaces;
    // The number of the next snapshot in the pictures folder, once that
    // folder has been looked at.
    qint32 picturesCount = 0;
    QString picturesCountFolder;
    // Runs while the Capture button shows that a Capture failed. Not a child
    // object: the window's children are its form and its view.
    QTimer captureFailedNotice;
    // Set when a frame outgrew frameBuffer; its bytes are dropped up to the end marker.
    bool frameTooLong = false;
    // Where each piece read from the socket lands.
    char readPiece[kReadPieceSize];
    // Empty for the system's lookup through QHostInfo.
    HostLookup hostLookup;

    friend class WidgetTestAccess;
};

#endif // WIDGET_H
