// SPDX-License-Identifier: MIT
#ifndef PACEDCAMERA_H
#define PACEDCAMERA_H

#include "frames.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

// A camera inside the measuring process, on a thread of its own, so that the
// time a frame's last byte is handed to the kernel and the time a paint ends
// are read from one clock. It serves one client on 127.0.0.1 at a fixed rate,
// in lock-step with the viewer's paints, or flat out, and numbers every frame
// it sends (see withSequence).
class PacedCamera
{
public:
    using Clock = std::chrono::steady_clock;

    // With fps 0 it sends in lock-step: each frame once the one before has
    // been painted (framePainted), so the viewer runs as fast as it can while
    // showing every frame.
    PacedCamera(const FrameSet &frames, double fps);
    // Floods: sends frames as fast as the socket takes them for floodTime,
    // then one last frame (see lastFrame), then nothing until stop().
    PacedCamera(const FrameSet &frames, std::chrono::milliseconds floodTime);
    ~PacedCamera();

    // Listens on an ephemeral loopback port; 0 on failure.
    quint16 listen();
    // Sends until stop(); call after listen().
    void start();
    void stop();
    // Called from the viewer's thread when a paint has shown frame number i.
    void framePainted(std::uint32_t i);

    // When the last byte of frame number i left, valid after stop().
    const std::vector<Clock::time_point> &sendTimes() const { return sent; }

    // The number of a flood's last frame once it has been sent, else -1; safe
    // to call from any thread.
    std::int64_t lastFrame() const { return last.load(); }

private:
    void run();

    std::vector<QByteArray> frames;
    std::chrono::nanoseconds interval {0};
    std::chrono::milliseconds flood {0};
    std::atomic<std::int64_t> last {-1};
    int listener = -1;
    std::atomic<int> client {-1};
    std::atomic<bool> stopping {false};
    std::thread thread;
    std::vector<Clock::time_point> sent;
    std::mutex paintedLock;
    std::condition_variable paintedChanged;
    std::int64_t painted = -1;
};

#endif // PACEDCAMERA_H
