#include "platform/usb/unix_socket.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace quorix::platform::usb {

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
    if (this != &other)
        Reset(other.Release());
    return *this;
}

int UniqueFd::Release() {
    const int fd = m_fd;
    m_fd = -1;
    return fd;
}

void UniqueFd::Reset(int fd) {
    if (m_fd >= 0)
        close(m_fd);
    m_fd = fd;
}

bool IsUsableSocketPath(const std::string& path) {
    return !path.empty() && path.size() < sizeof(sockaddr_un::sun_path);
}

UniqueFd ConnectUnixSocket(const std::string& path, bool nonBlocking, int timeoutMs) {
    if (!IsUsableSocketPath(path))
        return {};
    UniqueFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | (nonBlocking ? SOCK_NONBLOCK : 0), 0));
    if (!fd.IsValid())
        return {};
    if (!nonBlocking && timeoutMs >= 0) {
        // A Unix socket's connect waits for room in the listener's backlog at most as long as
        // the send time limit.
        timeval limit{};
        limit.tv_sec = timeoutMs / 1000;
        limit.tv_usec = static_cast<suseconds_t>(timeoutMs % 1000) * 1000;
        setsockopt(fd.Get(), SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    int result = 0;
    do {
        result = connect(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address);
    } while (result != 0 && errno == EINTR);
    if (result != 0 && !(nonBlocking && (errno == EAGAIN || errno == EINPROGRESS)))
        return {};
    return fd;
}

bool SendAll(int fd, const void* data, size_t length) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    while (length > 0) {
        const ssize_t sent = send(fd, bytes, length, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0)
            return false;
        bytes += sent;
        length -= static_cast<size_t>(sent);
    }
    return true;
}

SendResult SendAllUnlessWoken(int fd, int wakeFd, const void* data, size_t length, int timeoutMs) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    while (length > 0) {
        pollfd watched[2] = {{fd, POLLOUT, 0}, {wakeFd, POLLIN, 0}};
        const int ready = poll(watched, 2, timeoutMs);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return SendResult::kFailed;
        if ((watched[1].revents & POLLIN) != 0)
            return SendResult::kWoken;
        const ssize_t sent = send(fd, bytes, length, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK))
            continue;
        if (sent <= 0)
            return SendResult::kFailed;
        bytes += sent;
        length -= static_cast<size_t>(sent);
    }
    return SendResult::kSent;
}

bool ReceiveAll(int fd, void* data, size_t length) {
    auto* bytes = static_cast<uint8_t*>(data);
    while (length > 0) {
        const ssize_t received = recv(fd, bytes, length, 0);
        if (received < 0 && errno == EINTR)
            continue;
        if (received <= 0)
            return false;
        bytes += received;
        length -= static_cast<size_t>(received);
    }
    return true;
}

UniqueFd CreateWakeFd() {
    return UniqueFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
}

void SignalWakeFd(int fd) {
    const uint64_t one = 1;
    // The counter only saturates after 2^64 - 2 signals; a failed write cannot lose a wake-up.
    while (write(fd, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void DrainWakeFd(int fd) {
    uint64_t count = 0;
    while (read(fd, &count, sizeof count) < 0 && errno == EINTR) {
    }
}

WaitResult WaitReadable(int fd, int wakeFd, int timeoutMs) {
    pollfd watched[2] = {{fd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
    const nfds_t count = wakeFd >= 0 ? 2 : 1;
    for (;;) {
        const int ready = poll(watched, count, timeoutMs);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            return WaitResult::kError;
        if (ready == 0)
            return WaitResult::kTimeout;
        if (count == 2 && (watched[1].revents & POLLIN) != 0)
            return WaitResult::kWoken;
        if (watched[0].revents != 0)
            return WaitResult::kReadable;
        return WaitResult::kError;
    }
}

}  // namespace quorix::platform::usb
