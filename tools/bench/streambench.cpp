// SPDX-License-Identifier: MIT
// Micro benchmarks of the stream recogniser: bytes per second through
// Widget::consumeChunk on a camera-like stream, memcpy of the same bytes as the
// floor, and the fixed cost of one frame end.

#include "allocationcounter.h"
#include "widget.h"
#include "widgettestaccess.h"
#include "wire.h"

#include <QApplication>
#include <QByteArray>
#include <QLoggingCategory>

#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <random>
#include <vector>

namespace {

constexpr int kChunkSize = 64 * 1024;
constexpr int kFrameCount = 96;
constexpr int kMinFrameBytes = 20 * 1024;
constexpr int kMaxFrameBytes = 200 * 1024;

Widget *widget = nullptr;

// A stream of marker-wrapped frames whose bodies are uniformly random bytes,
// as a JPEG's entropy-coded data nearly is: one 'J' in 256 bytes sends the
// recogniser off its fast path, as real pictures do. The bodies start with the
// JPEG signature when good is set, and with zeros otherwise.
QByteArray makeStream(bool good)
{
    std::mt19937 random(20261208);
    std::uniform_int_distribution<int> length(kMinFrameBytes, kMaxFrameBytes);
    std::uniform_int_distribution<int> byte(0, 255);
    QByteArray stream;
    for (int i = 0; i < kFrameCount; ++i) {
        QByteArray body(length(random), Qt::Uninitialized);
        for (char &c : body)
            c = char(byte(random));
        // A marker inside the body would cut the frame short; a camera cannot
        // avoid that either, but it would make this stream's frame count vary.
        for (int at = body.indexOf("J_"); at >= 0; at = body.indexOf("J_", at + 1))
            body[at + 1] = 'x';
        const char head[3] = {good ? '\xFF' : '\0', good ? '\xD8' : '\0', good ? '\xFF' : '\0'};
        std::memcpy(body.data(), head, sizeof head);
        stream += framed(body);
    }
    return stream;
}

const QByteArray &goodStream()
{
    static const QByteArray stream = makeStream(true);
    return stream;
}

const QByteArray &badStream()
{
    static const QByteArray stream = makeStream(false);
    return stream;
}

// The stream cut into TCP-sized chunks, as on_socket_read would see it. The
// chunks point into the stream, so feeding them copies and allocates nothing.
std::vector<QByteArray> chunksOf(const QByteArray &stream)
{
    std::vector<QByteArray> chunks;
    for (int at = 0; at < stream.size(); at += kChunkSize)
        chunks.push_back(
            QByteArray::fromRawData(stream.constData() + at, qMin(kChunkSize, stream.size() - at)));
    return chunks;
}

void feedAll(const std::vector<QByteArray> &chunks)
{
    for (const QByteArray &chunk : chunks)
        WidgetTestAccess::feed(*widget, chunk);
}

void reportPerFrame(benchmark::State &state, qint64 bytesPerPass, int framesPerPass,
                    long long allocations)
{
    const auto passes = state.iterations();
    state.SetBytesProcessed(passes * bytesPerPass);
    state.SetItemsProcessed(passes * framesPerPass);
    state.counters["allocs/frame"] = double(allocations) / double(passes * framesPerPass);
}

// The floor: the same bytes, in the same chunks, copied once into a 1 MiB buffer.
void BM_MemcpyFloor(benchmark::State &state)
{
    const QByteArray &stream = badStream();
    std::vector<char> target(kFrameBufferSize);
    for (auto _ : state) {
        qint64 offset = 0;
        for (qint64 at = 0; at < stream.size(); at += kChunkSize) {
            const qint64 n = qMin<qint64>(kChunkSize, stream.size() - at);
            if (offset + n > kFrameBufferSize)
                offset = 0;
            std::memcpy(target.data() + offset, stream.constData() + at, size_t(n));
            offset += n;
        }
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * stream.size());
}
BENCHMARK(BM_MemcpyFloor)->Unit(benchmark::kMillisecond);

// Frames that fail the start check: the recogniser, the clear at each end and
// a "Jpeg error" line each, but no decode.
void BM_RecogniserRejectedFrames(benchmark::State &state)
{
    const QByteArray &stream = badStream();
    const std::vector<QByteArray> chunks = chunksOf(stream);
    const long long before = allocationCount();
    for (auto _ : state)
        feedAll(chunks);
    reportPerFrame(state, stream.size(), kFrameCount, allocationCount() - before);
}
BENCHMARK(BM_RecogniserRejectedFrames)->Unit(benchmark::kMillisecond);

// Frames that pass the check: also the copy to the display buffer and the
// view's copy of it. The window is not shown, so no paint comes and nothing
// is decoded: this is the whole cost of a frame superseded before a paint.
void BM_RecogniserGoodFrames(benchmark::State &state)
{
    const QByteArray &stream = goodStream();
    const std::vector<QByteArray> chunks = chunksOf(stream);
    const long long before = allocationCount();
    for (auto _ : state)
        feedAll(chunks);
    reportPerFrame(state, stream.size(), kFrameCount, allocationCount() - before);
}
BENCHMARK(BM_RecogniserGoodFrames)->Unit(benchmark::kMillisecond);

// What the view's copy alone costs on the good stream's frames, so that it
// can be told apart from the recogniser's own work above.
void BM_ShowFrameCopy(benchmark::State &state)
{
    const QByteArray &stream = goodStream();
    const QVector<QByteArray> frames = SplitStream::of(stream).frames;
    Orvex *view = WidgetTestAccess::view(*widget);
    const long long before = allocationCount();
    for (auto _ : state) {
        for (const QByteArray &frame : frames)
            view->showFrame(frame.constData(), frame.size());
    }
    reportPerFrame(state, stream.size(), int(frames.size()), allocationCount() - before);
}
BENCHMARK(BM_ShowFrameCopy)->Unit(benchmark::kMillisecond);

// The fixed cost of a frame end: a 3-byte body that fails the check, so the
// time is the clear of what it stored, the check and the log line.
void BM_FrameEndRejected(benchmark::State &state)
{
    const QByteArray frame = framed("abc");
    const long long before = allocationCount();
    for (auto _ : state)
        WidgetTestAccess::feed(*widget, frame);
    reportPerFrame(state, frame.size(), 1, allocationCount() - before);
}
BENCHMARK(BM_FrameEndRejected);

// A 4-byte frame that passes the check: clear, check, copy and the view's
// copy, which BM_ShowFrameTiny measures alone.
void BM_FrameEndGood(benchmark::State &state)
{
    const QByteArray frame = framed("\xFF\xD8\xFF\xD9");
    const long long before = allocationCount();
    for (auto _ : state)
        WidgetTestAccess::feed(*widget, frame);
    reportPerFrame(state, frame.size(), 1, allocationCount() - before);
}
BENCHMARK(BM_FrameEndGood);

void BM_ShowFrameTiny(benchmark::State &state)
{
    const char body[] = "\xFF\xD8\xFF\xD9";
    Orvex *view = WidgetTestAccess::view(*widget);
    const long long before = allocationCount();
    for (auto _ : state)
        view->showFrame(body, 4);
    reportPerFrame(state, 4, 1, allocationCount() - before);
}
BENCHMARK(BM_ShowFrameTiny);

// A clear of the whole buffer, for scale.
void BM_Clear1MiB(benchmark::State &state)
{
    std::vector<char> buffer(kFrameBufferSize);
    for (auto _ : state) {
        std::memset(buffer.data(), 0, buffer.size());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * kFrameBufferSize);
}
BENCHMARK(BM_Clear1MiB);

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("*=false"));
    std::unique_ptr<Widget> window(new Widget);
    widget = window.get();

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
