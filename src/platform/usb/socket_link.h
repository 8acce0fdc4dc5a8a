#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/usb/socket_protocol.h"
#include "platform/usb/unix_socket.h"
#include "platform/usb/usb_link.h"

namespace quorix::platform::usb {

// The emulator daemon's transport: a camera emulated in one process (quorix-camsim) is used from
// others over a Unix stream socket. SocketLink is the client end, a UsbLink whose operations run
// on the server's device; SocketLinkServer (or ServeUsbLink for one connection) is the server
// end. The message format is in socket_protocol.h.

// The client end. Each operation borrows an idle connection to the server or opens a new one, so
// bulk transfers on different endpoints and control transfers run at the same time. A server
// that goes away makes every operation report kDisconnected. Cancelling a blocked bulk transfer
// tells the server to cancel it; if the server does not answer within a grace period the
// connection is dropped and the transfer ends as cancelled all the same.
class SocketLink : public UsbLink {
public:
    // Connects to the server listening at `socketPath` and asks it whether its device is there;
    // null when nobody listens, or when the listener does not answer within kGreetingTimeoutMs
    // (a socket that accepts but never answers is not a camera).
    static std::shared_ptr<SocketLink> Connect(const std::string& socketPath);
    // [real ms] A healthy server answers within microseconds.
    static constexpr int kGreetingTimeoutMs = 500;
    // [real ms] How long the server may take to answer a request (see the source).
    static constexpr int kAnswerTimeoutMs = 10000;
    ~SocketLink() override;

    TransferResult ControlTransfer(const SetupPacket& setup, uint8_t* data,
                                   size_t* transferred) override;
    TransferResult BulkTransfer(uint8_t endpoint, uint8_t* data, size_t length, size_t* transferred,
                                CancelToken& cancel) override;
    bool ResetPipe(uint8_t endpoint) override;
    bool ResetDevice() override;
    uint32_t DeviceSpeed() override;
    // Asks the server whether its device is still plugged in; false when the server is gone.
    bool IsConnected() const override;

    const std::string& SocketPath() const { return m_socketPath; }

private:
    struct Connection;

    explicit SocketLink(std::string socketPath);

    // An idle connection, or a new one when the server makes room within `connectTimeoutMs`.
    std::unique_ptr<Connection> Acquire(int connectTimeoutMs = kAnswerTimeoutMs) const;
    void Release(std::unique_ptr<Connection> connection) const;
    // One request that cannot be cancelled: sends it and its payload, then reads the reply and
    // its data (at most `capacity` bytes) into `replyData`. kCompleted when a well-formed reply
    // came; kDisconnected when the server is unreachable or went away, kError when its reply is
    // malformed (the connection is dropped in both cases).
    TransferResult Exchange(const WireRequest& request, const uint8_t* payload, uint8_t* replyData,
                            size_t capacity, WireReply* reply) const;

    const std::string m_socketPath;
    mutable std::mutex m_mutex;
    mutable std::vector<std::unique_ptr<Connection>> m_idle;
};

// Serves one client connection: reads its requests and runs them on `device` until the client
// disconnects, sends a malformed message or the connection is shut down (which is how another
// thread ends it). The caller keeps ownership of the descriptor and closes it afterwards.
void ServeUsbLink(int connectedFd, UsbLink& device);

// Serves one device at a socket path: listens there and serves each client connection on a
// thread of its own. Owned by the daemon, one per emulated camera; destroying it stops it.
class SocketLinkServer {
public:
    SocketLinkServer(std::string socketPath, std::shared_ptr<UsbLink> device);
    ~SocketLinkServer();
    SocketLinkServer(const SocketLinkServer&) = delete;
    SocketLinkServer& operator=(const SocketLinkServer&) = delete;

    // Creates the socket (replacing a stale socket file that nobody listens on any more) and
    // starts accepting. False when the path is unusable or another server listens there.
    bool Start();
    // Stops accepting, removes the socket file, ends every connection (cancelling transfers in
    // progress) and joins all threads. Safe to call more than once.
    void Stop();
    bool IsRunning() const;
    const std::string& SocketPath() const { return m_socketPath; }

    // The most connections served at once; further clients are turned away.
    static constexpr size_t kMaxConnections = 256;

private:
    struct Session {
        UniqueFd socket;
        std::thread thread;
        std::atomic<bool> finished{false};
    };

    void AcceptLoop();
    void ReapFinishedLocked();

    const std::string m_socketPath;
    const std::shared_ptr<UsbLink> m_device;
    std::mutex m_lifecycleMutex;                 // Start and Stop
    std::pair<uint64_t, uint64_t> m_socketFile;  // device and inode of the socket file we made
    UniqueFd m_listener;
    UniqueFd m_stopWake;
    std::thread m_acceptThread;
    std::mutex m_sessionsMutex;
    std::list<std::unique_ptr<Session>> m_sessions;
    std::atomic<bool> m_running{false};
};

}  // namespace quorix::platform::usb
