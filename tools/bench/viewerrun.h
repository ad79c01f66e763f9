// SPDX-License-Identifier: MIT
#ifndef VIEWERRUN_H
#define VIEWERRUN_H

#include "frames.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <vector>

// One paint of the view: when it ended, and which frame it showed.
struct Paint
{
    std::chrono::steady_clock::time_point end;
    std::uint32_t sequence = 0;
    bool tagged = false; // false when the frame carried no number
};

// What a shown viewer window did against a camera while it was measured.
struct ViewerRun
{
    bool connected = false;
    double seconds = 0.0;
    double cpuMs = 0.0;
    long shown = 0; // paints that showed a frame not shown before
    long painted = 0; // paints of the view, whatever they showed
    long received = 0; // frames handed to the view, shown or not
    long decoded = 0; // decodes the view tried (Orvex::decodeCount)
    long long allocations = 0; // heap allocations by the whole process meanwhile
    std::vector<Paint> paints;
};

// Runs a shown viewer window against a camera on port for warmUpMs, then
// measures for measureMs. Frames received are counted from the frame numbers
// the paints show, or, when a camera repeats its frames (replayed, cycling
// through them in order), from the bytes taken: between two paints the
// numbers may have gone round more than once. onNewFrame is called after each
// paint that showed another frame than the paint before.
ViewerRun runViewer(quint16 port, int warmUpMs, int measureMs, const FrameSet *replayed,
                    std::function<void(std::uint32_t)> onNewFrame = nullptr);

// Runs a shown viewer window against a camera on port, from the click on
// Start until finished says the paints so far are enough or timeoutMs have
// passed. Counts no frames received.
ViewerRun runViewerUntil(quint16 port, int timeoutMs,
                         const std::function<bool(const std::vector<Paint> &)> &finished);

#endif // VIEWERRUN_H
