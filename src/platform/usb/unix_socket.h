#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace quorix::platform::usb {

// An owned file descriptor, closed on destruction. Movable, not copyable.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : m_fd(other.Release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    ~UniqueFd() { Reset(); }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int Get() const { return m_fd; }
    bool IsValid() const { return m_fd >= 0; }
    int Release();
    void Reset(int fd = -1);

private:
    int m_fd = -1;
};

// Unix stream sockets and the small waits the emulator socket's two ends need. Every call
// retries on EINTR and never raises SIGPIPE; a peer that went away reads as a failure.

// Whether `path` fits a Unix socket address.
bool IsUsableSocketPath(const std::string& path);

// Connects to the socket at `path`; invalid when nothing listens there. A non-blocking connect
// also counts a server whose backlog is full as listening, without waiting for it. A blocking
// connect waits at most `timeoutMs` real milliseconds (< 0: no limit) for room in a full backlog.
UniqueFd ConnectUnixSocket(const std::string& path, bool nonBlocking = false, int timeoutMs = -1);

// Sends or receives exactly `length` bytes; false when the peer went away or an error occurred.
bool SendAll(int fd, const void* data, size_t length);
bool ReceiveAll(int fd, void* data, size_t length);

// Sends exactly `length` bytes unless `wakeFd` is signalled first (kWoken: part of the data may
// have been sent) or the peer accepts nothing for `timeoutMs` real milliseconds (kFailed).
enum class SendResult { kSent, kWoken, kFailed };
SendResult SendAllUnlessWoken(int fd, int wakeFd, const void* data, size_t length, int timeoutMs);

// An eventfd that another thread signals to wake a poll; Signal may be called any number of
// times, Drain clears it.
UniqueFd CreateWakeFd();
void SignalWakeFd(int fd);
void DrainWakeFd(int fd);

enum class WaitResult { kReadable, kWoken, kTimeout, kError };
// Waits until `fd` has data or its peer hung up (kReadable), `wakeFd` is signalled (kWoken, when
// wakeFd >= 0) or `timeoutMs` real milliseconds have passed (< 0: no limit).
WaitResult WaitReadable(int fd, int wakeFd, int timeoutMs);

}  // namespace quorix::platform::usb
