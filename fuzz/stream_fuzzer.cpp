// SPDX-License-Identifier: MIT
// Feeds arbitrary bytes through the same road a camera's bytes take: the
// stream recogniser, the JPEG start check, the snapshot step, the copy to the
// display buffer and the view's decode, which the view's paint runs.
//
// Input layout:
//   byte 0   flags: bit 0 arms a snapshot before the stream, bit 1 arms one
//            halfway through, bit 2 paints the view after every chunk (it is
//            always painted at the end)
//   byte 1   seed for the chunk sizes
//   rest     the stream as the socket would deliver it

#include "orvex.h"
#include "snapshot.h"
#include "widget.h"
#include "widgetform.h"
#include "widgettestaccess.h"

#include <QApplication>
#include <QByteArray>
#include <QCoreApplication>
#include <QFile>
#include <QLoggingCategory>
#include <QPushButton>
#include <QString>

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace {

constexpr unsigned kArmAtStart = 0x01;
constexpr unsigned kArmHalfway = 0x02;
constexpr unsigned kPaintEachChunk = 0x04;

QApplication *application = nullptr;

// Chunk sizes from 1 to 4096 bytes, mostly small so markers get split, with
// the occasional large read as a busy socket would deliver.
class ChunkSizes
{
public:
    explicit ChunkSizes(std::uint8_t seed) : state(seed * 2654435761u + 1u) { }

    int next()
    {
        state = state * 1103515245u + 12345u;
        const unsigned r = state >> 16;
        switch (r % 4) {
        case 0:
            return 1;
        case 1:
            return int(1 + (r >> 2) % 8);
        case 2:
            return int(1 + (r >> 2) % 256);
        default:
            return int(1 + (r >> 2) % 4096);
        }
    }

private:
    std::uint32_t state;
};

void feed(Widget &widget, const char *data, std::size_t size)
{
    WidgetTestAccess::feed(widget, QByteArray::fromRawData(data, int(size)));
}

void arm(Widget &widget)
{
    WidgetTestAccess::form(widget)->CatptureBtn->click();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // The fuzzer runs millions of inputs; "Jpeg error" and the image library's
    // complaints about corrupt data would drown its own output.
    QLoggingCategory::setFilterRules(QStringLiteral("*=false"));
    // QApplication keeps a reference to argc for its whole life.
    static int qtArgc = 1;
    static char *qtArgv[] = {(*argv)[0], nullptr};
    Q_UNUSED(argc);
    application = new QApplication(qtArgc, qtArgv);
    // Snapshots only ever beside the fuzzer, whatever the build: a snapshot
    // that cannot be written there must not land among the user's pictures.
    const QString directory = QCoreApplication::applicationDirPath();
    useSnapshotPlaces(SnapshotPlaces {directory, directory + QStringLiteral("/pictures")});

    // Fonts, styles and the paint engine keep process-wide caches made on
    // first use; make them now so they do not count as one input's leak.
    Widget warmUp;
    warmUp.grab();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 2)
        return 0;
    const unsigned flags = data[0];
    ChunkSizes chunkSizes(data[1]);
    const char *stream = reinterpret_cast<const char *>(data + 2);
    const std::size_t streamSize = size - 2;

    // A fresh window per input keeps every run reproducible on its own.
    Widget widget;
    const qint32 firstSnapshot = WidgetTestAccess::captureCount(widget);
    if (flags & kArmAtStart)
        arm(widget);

    std::size_t offset = 0;
    bool armedHalfway = false;
    while (offset < streamSize) {
        if ((flags & kArmHalfway) && !armedHalfway && offset >= streamSize / 2) {
            arm(widget);
            armedHalfway = true;
        }
        const std::size_t chunk
            = std::min<std::size_t>(std::size_t(chunkSizes.next()), streamSize - offset);
        feed(widget, stream + offset, chunk);
        offset += chunk;
        if (flags & kPaintEachChunk)
            WidgetTestAccess::view(widget)->grab();
    }

    // The view decodes a frame only for the paint that shows it.
    WidgetTestAccess::view(widget)->grab();

    // Snapshots land next to the fuzzer binary; remove them so a long run
    // does not fill the disk.
    const QString directory = QCoreApplication::applicationDirPath();
    for (qint32 n = firstSnapshot; n < WidgetTestAccess::captureCount(widget); ++n)
        QFile::remove(snapshotPath(directory, n));
    return 0;
}
