#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/usb/socket_protocol.h"
#include "platform/usb/unix_socket.h"
#include "platform/usb/usb_link.h"

namespace quorix::platform::usb {

// The emulator daemon's transport: a camera emulated in one process (quorix-camsim) is used from
// others over a Unix stream socket. SocketLink is the client end, a UsbLink whose operations run
// on the server's device; the server end lives with the emulator (sim/socket_link_server.h). The
// message format is in socket_protocol.h.

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

}  // namespace quorix::platform::usb
