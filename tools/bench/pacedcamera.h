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
// are read from one clock. It serves one client on 127.0.0.1 at a fixed rate
// and numbers every frame it sends (see withSequence).
class PacedCamera
{
public:
    using Clock = std::chrono::steady_clock;

    // With fps 0 it sends in lock-step: each frame once the one before has
    // been painted (framePainted), so the viewer runs as fast as it can while
    // showing every frame.
    PacedCamera(const FrameSet &frames, double fps);
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

private:
    void run();

    std::vector<QByteArray> frames;
    std::chrono::nanoseconds interval;
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
