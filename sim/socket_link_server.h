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

#include "platform/usb/unix_socket.h"
#include "platform/usb/usb_link.h"

namespace quorix::sim {

// The server end of the emulator daemon's transport: it runs the requests of SocketLink clients
// (platform/usb/socket_link.h) on an emulated camera. The message format is in
// platform/usb/socket_protocol.h.

// Serves one client connection: reads its requests and runs them on `device` until the client
// disconnects, sends a malformed message or the connection is shut down (which is how another
// thread ends it). The caller keeps ownership of the descriptor and closes it afterwards.
void ServeUsbLink(int connectedFd, platform::usb::UsbLink& device);

// Serves one device at a socket path: listens there and serves each client connection on a
// thread of its own. Owned by the daemon, one per emulated camera; destroying it stops it.
class SocketLinkServer {
public:
    SocketLinkServer(std::string socketPath, std::shared_ptr<platform::usb::UsbLink> device);
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
        platform::usb::UniqueFd socket;
        std::thread thread;
        std::atomic<bool> finished{false};
    };

    void AcceptLoop();
    void ReapFinishedLocked();

    const std::string m_socketPath;
    const std::shared_ptr<platform::usb::UsbLink> m_device;
    std::mutex m_lifecycleMutex;                 // Start and Stop
    std::pair<uint64_t, uint64_t> m_socketFile;  // device and inode of the socket file we made
    platform::usb::UniqueFd m_listener;
    platform::usb::UniqueFd m_stopWake;
    std::thread m_acceptThread;
    std::mutex m_sessionsMutex;
    std::list<std::unique_ptr<Session>> m_sessions;
    std::atomic<bool> m_running{false};
};

}  // namespace quorix::sim
