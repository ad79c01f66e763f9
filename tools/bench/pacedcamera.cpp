// SPDX-License-Identifier: MIT
#include "pacedcamera.h"

#include "wire.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace {

// Where the number sits in a wrapped frame: after the start marker, the SOI
// and the tag.
constexpr int kSequenceOffset = kMarkerLength + 2 + 8;

bool sendAll(int socket, const char *data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::send(socket, data, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= size_t(n);
    }
    return true;
}

} // namespace

PacedCamera::PacedCamera(const FrameSet &pictures, double fps)
    : interval(std::chrono::nanoseconds(fps > 0 ? std::int64_t(1e9 / fps) : 0))
{
    for (const QByteArray &picture : pictures)
        frames.push_back(framed(withSequence(picture, 0)));
}

PacedCamera::PacedCamera(const FrameSet &pictures, std::chrono::milliseconds floodTime)
    : PacedCamera(pictures, 0.0)
{
    flood = floodTime;
}

PacedCamera::~PacedCamera()
{
    stop();
    if (listener >= 0)
        ::close(listener);
}

quint16 PacedCamera::listen()
{
    listener = ::socket(AF_INET, SOCK_STREAM, 0);
    if (listener < 0)
        return 0;
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0
        || ::listen(listener, 1) != 0
        || ::getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length) != 0)
        return 0;
    return ntohs(address.sin_port);
}

void PacedCamera::start()
{
    thread = std::thread([this] { run(); });
}

void PacedCamera::stop()
{
    {
        std::lock_guard<std::mutex> lock(paintedLock);
        stopping = true;
    }
    paintedChanged.notify_all();
    // A send blocked on a client that stopped reading returns at once.
    const int connection = client.load();
    if (connection >= 0)
        ::shutdown(connection, SHUT_RDWR);
    if (thread.joinable())
        thread.join();
}

void PacedCamera::framePainted(std::uint32_t i)
{
    {
        std::lock_guard<std::mutex> lock(paintedLock);
        painted = std::max<std::int64_t>(painted, i);
    }
    paintedChanged.notify_all();
}

void PacedCamera::run()
{
    pollfd waiting {listener, POLLIN, 0};
    while (!stopping && ::poll(&waiting, 1, 50) == 0) { }
    if (stopping)
        return;
    const int connection = ::accept(listener, nullptr, nullptr);
    if (connection < 0)
        return;
    client = connection;
    // Each frame goes out in one write; the last segment should not wait for
    // an acknowledgement, or the measurement would show TCP's delay, not ours.
    const int on = 1;
    ::setsockopt(connection, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);

    const Clock::time_point begin = Clock::now();
    for (std::uint32_t k = 0; !stopping; ++k) {
        // A flood never pauses: send() blocks while the viewer's socket is
        // full, and that alone sets its pace.
        const bool lastOfFlood = flood.count() > 0 && Clock::now() >= begin + flood;
        if (interval.count() > 0) {
            std::this_thread::sleep_until(begin + k * interval);
        } else if (flood.count() == 0 && k > 0) {
            // A frame the viewer never paints (it cannot, say) must not stall
            // the run for good.
            std::unique_lock<std::mutex> lock(paintedLock);
            paintedChanged.wait_for(lock, std::chrono::milliseconds(200), [this, k] {
                return stopping || painted >= std::int64_t(k) - 1;
            });
        }
        QByteArray &frame = frames[k % frames.size()];
        char *n = frame.data() + kSequenceOffset;
        for (int i = 0; i < 4; ++i)
            n[i] = char((k >> (24 - 8 * i)) & 0xFF);
        if (!sendAll(connection, frame.constData(), size_t(frame.size())))
            break;
        sent.push_back(Clock::now());
        if (lastOfFlood) {
            last = k;
            // Closing now would end the viewer's connection while it may
            // still be reading the frame.
            std::unique_lock<std::mutex> lock(paintedLock);
            paintedChanged.wait(lock, [this] { return stopping.load(); });
        }
    }
    client = -1;
    ::close(connection);
}
