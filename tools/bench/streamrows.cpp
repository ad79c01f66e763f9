// SPDX-License-Identifier: MIT
#include "streamrows.h"

#include "table.h"

#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

void addStreamRows(Table &table, const QString &jsonPath)
{
    QFile file(jsonPath);
    if (!file.open(QIODevice::ReadOnly)) {
        table.row("stream benchmark", "not run", jsonPath);
        return;
    }
    // A counter that is 0 in every repetition gets a coefficient of variation
    // of NaN, which Google Benchmark writes as is, though it is not JSON.
    QByteArray json = file.readAll();
    json.replace(": -NaN", ": null").replace(": NaN", ": null");
    QJsonParseError error {};
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (document.isNull()) {
        table.row("stream benchmark", "unreadable", error.errorString());
        return;
    }
    QHash<QString, QJsonObject> results;
    for (const QJsonValue &value : document["benchmarks"].toArray()) {
        const QJsonObject b = value.toObject();
        // With repetitions, keep the median; without, the single run.
        QString name = b["name"].toString();
        if (b["aggregate_name"].toString() == "median")
            name = b["run_name"].toString();
        else if (b.contains("aggregate_name"))
            continue;
        results[name] = b;
    }
    auto cpuSeconds = [&](const QString &name) {
        const QJsonObject b = results[name];
        const QString unit = b["time_unit"].toString();
        const double scale = unit == "ms" ? 1e-3 : unit == "us" ? 1e-6 : 1e-9;
        return b["cpu_time"].toDouble() * scale;
    };
    auto gbps
        = [&](const QString &name) { return results[name]["bytes_per_second"].toDouble() / 1e9; };
    auto allocs = [&](const QString &name) { return results[name]["allocs/frame"].toDouble(); };

    const double floor = gbps("BM_MemcpyFloor");
    const double rejected = gbps("BM_RecogniserRejectedFrames");
    const double goodBytes = results["BM_RecogniserGoodFrames"]["bytes_per_second"].toDouble()
        * cpuSeconds("BM_RecogniserGoodFrames");
    const double good = gbps("BM_RecogniserGoodFrames");
    const double goodExCopy = goodBytes
        / (cpuSeconds("BM_RecogniserGoodFrames") - cpuSeconds("BM_ShowFrameCopy")) / 1e9;
    const double recogniserAllocs = allocs("BM_RecogniserGoodFrames") - allocs("BM_ShowFrameCopy");

    table.section("Stream cutting (96 frames of 20-200 KB, 64 KB chunks)");
    table.row("memcpy of the same chunks (floor)", fixed(floor, 1) + " GB/s");
    table.row("recogniser, frames failing the check (no decode)", fixed(rejected, 2) + " GB/s",
              ">= 1 GB/s: " + verdict(rejected >= 1.0));
    table.row(
        "recogniser, good frames handed to the view (no paint, so no decode)",
        fixed(good, 2) + " GB/s",
        QString("%1 us a frame; the view's copy subtracted: %2 GB/s; >= 1 GB/s: %3")
            .arg(fixed(1e6 / results["BM_RecogniserGoodFrames"]["items_per_second"].toDouble(), 1),
                 fixed(goodExCopy, 2), verdict(goodExCopy >= 1.0)));
    table.row("frame end: clear, check, log (3-byte frame, rejected)",
              fixed(cpuSeconds("BM_FrameEndRejected") * 1e6, 1) + " us",
              "a clear of all 1 MiB, for scale: " + fixed(cpuSeconds("BM_Clear1MiB") * 1e6, 1)
                  + " us");
    table.row("frame end: clear, check, copy (good 4-byte frame, the view's copy subtracted)",
              fixed((cpuSeconds("BM_FrameEndGood") - cpuSeconds("BM_ShowFrameTiny")) * 1e6, 1)
                  + " us");
    table.row("heap allocations per frame by the recogniser", fixed(recogniserAllocs, 2),
              "0 wanted: " + verdict(std::abs(recogniserAllocs) < 0.01)
                  + QString("; the view's copy makes %1, a \"Jpeg error\" line %2")
                        .arg(fixed(allocs("BM_ShowFrameCopy"), 2),
                             fixed(allocs("BM_RecogniserRejectedFrames"), 0)));
}
