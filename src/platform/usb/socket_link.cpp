#include "platform/usb/socket_link.h"

#include <sys/socket.h>
#include <sys/time.h>

#include <algorithm>
#include <utility>

#include "platform/log.h"

namespace quorix::platform::usb {

namespace {

// SocketLink::kAnswerTimeoutMs: how long the server may take to answer anything but a bulk
// transfer that waits for data, and to accept each piece of a request [real ms]. The emulator
// answers within microseconds; this only keeps a hung server from hanging the caller. Real time
// on purpose, like the grace below: a test that runs the SDK clock fast must not make a healthy
// daemon look hung.
constexpr int kAnswerTimeoutMs = SocketLink::kAnswerTimeoutMs;
// How long a cancelled bulk transfer waits for the server to confirm the cancel before the
// connection is dropped [real ms].
constexpr int kCancelGraceMs = 2000;
// Idle connections kept for reuse; more are closed as they come back.
constexpr size_t kMaxIdleConnections = 4;

uint8_t ReplyTypeOf(WireType type) {
    return static_cast<uint8_t>(static_cast<uint8_t>(type) | kWireReplyFlag);
}

WireRequest RequestOf(WireType type) {
    WireRequest request;
    request.type = static_cast<uint8_t>(type);
    return request;
}

bool SendRequest(int fd, const WireRequest& request) {
    uint8_t prefix[kWireRequestSize];
    EncodeRequest(request, prefix);
    return SendAll(fd, prefix, sizeof prefix);
}

bool ReceiveReply(int fd, WireReply* reply) {
    uint8_t prefix[kWireReplySize];
    if (!ReceiveAll(fd, prefix, sizeof prefix))
        return false;
    *reply = DecodeReply(prefix);
    return true;
}

void SetAnswerTimeout(int fd, int timeoutMs = kAnswerTimeoutMs) {
    timeval limit{};
    limit.tv_sec = timeoutMs / 1000;
    limit.tv_usec = static_cast<suseconds_t>(timeoutMs % 1000) * 1000;
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
}

}  // namespace

struct SocketLink::Connection {
    UniqueFd socket;
    UniqueFd wake;  // signalled by a cancel while a bulk transfer waits on this connection
};

SocketLink::SocketLink(std::string socketPath) : m_socketPath(std::move(socketPath)) {}

SocketLink::~SocketLink() = default;

std::shared_ptr<SocketLink> SocketLink::Connect(const std::string& socketPath) {
    std::shared_ptr<SocketLink> link(new SocketLink(socketPath));
    std::unique_ptr<Connection> first = link->Acquire(kGreetingTimeoutMs);
    if (!first)
        return nullptr;
    // The first question goes out with a short time limit: a listener that accepted but never
    // answers would otherwise hold the caller for the full answer time on every open.
    const int fd = first->socket.Get();
    SetAnswerTimeout(fd, kGreetingTimeoutMs);
    WireReply reply;
    if (!SendRequest(fd, RequestOf(WireType::kIsConnected)) || !ReceiveReply(fd, &reply) ||
        reply.type != ReplyTypeOf(WireType::kIsConnected) || reply.payloadLength != 0) {
        Log("Usb", "socket %s does not answer as a camera", socketPath.c_str());
        return nullptr;
    }
    SetAnswerTimeout(fd);
    link->Release(std::move(first));
    return link;
}

std::unique_ptr<SocketLink::Connection> SocketLink::Acquire(int connectTimeoutMs) const {
    {
        std::lock_guard lock(m_mutex);
        if (!m_idle.empty()) {
            std::unique_ptr<Connection> connection = std::move(m_idle.back());
            m_idle.pop_back();
            return connection;
        }
    }
    auto connection = std::make_unique<Connection>();
    connection->socket = ConnectUnixSocket(m_socketPath, false, connectTimeoutMs);
    connection->wake = CreateWakeFd();
    if (!connection->socket.IsValid() || !connection->wake.IsValid())
        return nullptr;
    SetAnswerTimeout(connection->socket.Get());
    return connection;
}

void SocketLink::Release(std::unique_ptr<Connection> connection) const {
    std::lock_guard lock(m_mutex);
    if (m_idle.size() < kMaxIdleConnections)
        m_idle.push_back(std::move(connection));
}

TransferResult SocketLink::Exchange(const WireRequest& request, const uint8_t* payload,
                                    uint8_t* replyData, size_t capacity, WireReply* reply) const {
    std::unique_ptr<Connection> connection = Acquire();
    if (!connection)
        return TransferResult::kDisconnected;
    const int fd = connection->socket.Get();
    if (!SendRequest(fd, request) ||
        (request.payloadLength > 0 && !SendAll(fd, payload, request.payloadLength)) ||
        !ReceiveReply(fd, reply))
        return TransferResult::kDisconnected;
    if (reply->type != ReplyTypeOf(static_cast<WireType>(request.type)) ||
        reply->payloadLength > capacity) {
        Log("Usb", "socket link %s: malformed reply (type %u, payload %u bytes)",
            m_socketPath.c_str(), reply->type, reply->payloadLength);
        return TransferResult::kError;
    }
    if (reply->payloadLength > 0 && !ReceiveAll(fd, replyData, reply->payloadLength))
        return TransferResult::kDisconnected;
    Release(std::move(connection));
    return TransferResult::kCompleted;
}

TransferResult SocketLink::ControlTransfer(const SetupPacket& setup, uint8_t* data,
                                           size_t* transferred) {
    *transferred = 0;
    if (data == nullptr && setup.length > 0)
        return TransferResult::kError;
    const bool deviceToHost = (setup.requestType & 0x80) != 0;
    WireRequest request = RequestOf(WireType::kControl);
    request.payloadLength = deviceToHost ? 0 : setup.length;
    request.requestType = setup.requestType;
    request.request = setup.request;
    request.value = setup.value;
    request.index = setup.index;
    request.length = setup.length;
    WireReply reply;
    const TransferResult exchanged =
        Exchange(request, data, data, deviceToHost ? setup.length : 0, &reply);
    if (exchanged != TransferResult::kCompleted)
        return exchanged;
    const std::optional<TransferResult> result = DecodeResult(reply.result);
    if (!result || reply.value > setup.length ||
        (deviceToHost && reply.payloadLength != reply.value))
        return TransferResult::kError;
    *transferred = reply.value;
    return *result;
}

TransferResult SocketLink::BulkTransfer(uint8_t endpoint, uint8_t* data, size_t length,
                                        size_t* transferred, CancelToken& cancel) {
    *transferred = 0;
    if (!IsBulkEndpoint(endpoint) || length > kMaxWirePayload || (data == nullptr && length > 0))
        return TransferResult::kError;
    std::unique_ptr<Connection> connection = Acquire();
    if (!connection)
        return TransferResult::kDisconnected;
    const int fd = connection->socket.Get();
    const int wakeFd = connection->wake.Get();

    // The waker must be gone before the connection is closed or handed to another transfer.
    cancel.SetWaker([wakeFd] { SignalWakeFd(wakeFd); });
    const auto finish = [&](TransferResult result, bool keepConnection) {
        cancel.ClearWaker();
        if (keepConnection) {
            DrainWakeFd(wakeFd);
            Release(std::move(connection));
        }
        return result;
    };
    if (cancel.IsCancelled())
        return finish(TransferResult::kCancelled, true);

    const bool inbound = (endpoint & 0x80) != 0;
    WireRequest request = RequestOf(WireType::kBulk);
    request.payloadLength = inbound ? 0 : static_cast<uint32_t>(length);
    request.endpoint = endpoint;
    request.length = static_cast<uint32_t>(length);
    if (!SendRequest(fd, request))
        return finish(TransferResult::kDisconnected, false);
    if (!inbound) {
        switch (SendAllUnlessWoken(fd, wakeFd, data, length, kAnswerTimeoutMs)) {
            case SendResult::kSent:
                break;
            case SendResult::kWoken:
                // Half a message is on its way: the connection cannot carry another one.
                return finish(TransferResult::kCancelled, false);
            case SendResult::kFailed:
                return finish(TransferResult::kDisconnected, false);
        }
    }

    // Waits for the reply for as long as the device takes; a cancel is passed on to the server,
    // which then ends the transfer and replies.
    bool cancelSent = false;
    for (;;) {
        const WaitResult waited =
            WaitReadable(fd, cancelSent ? -1 : wakeFd, cancelSent ? kCancelGraceMs : -1);
        if (waited == WaitResult::kReadable)
            break;
        if (waited == WaitResult::kWoken && SendRequest(fd, RequestOf(WireType::kCancel))) {
            cancelSent = true;
            continue;
        }
        if (waited == WaitResult::kWoken || waited == WaitResult::kTimeout)
            return finish(TransferResult::kCancelled, false);
        return finish(TransferResult::kDisconnected, false);
    }

    WireReply reply;
    if (!ReceiveReply(fd, &reply))
        return finish(cancelSent ? TransferResult::kCancelled : TransferResult::kDisconnected,
                      false);
    const std::optional<TransferResult> result = DecodeResult(reply.result);
    if (reply.type != ReplyTypeOf(WireType::kBulk) || !result || reply.value > length ||
        reply.payloadLength != (inbound ? reply.value : 0)) {
        Log("Usb", "socket link %s: malformed bulk reply (%u bytes of %zu)", m_socketPath.c_str(),
            reply.payloadLength, length);
        return finish(TransferResult::kError, false);
    }
    if (reply.payloadLength > 0 && !ReceiveAll(fd, data, reply.payloadLength))
        return finish(TransferResult::kDisconnected, false);
    *transferred = reply.value;
    return finish(*result, true);
}

bool SocketLink::ResetPipe(uint8_t endpoint) {
    WireRequest request = RequestOf(WireType::kResetPipe);
    request.endpoint = endpoint;
    WireReply reply;
    return Exchange(request, nullptr, nullptr, 0, &reply) == TransferResult::kCompleted &&
           reply.result == 1;
}

bool SocketLink::ResetDevice() {
    WireReply reply;
    return Exchange(RequestOf(WireType::kResetDevice), nullptr, nullptr, 0, &reply) ==
               TransferResult::kCompleted &&
           reply.result == 1;
}

uint32_t SocketLink::DeviceSpeed() {
    WireReply reply;
    if (Exchange(RequestOf(WireType::kDeviceSpeed), nullptr, nullptr, 0, &reply) !=
        TransferResult::kCompleted)
        return 0;
    return reply.value;
}

bool SocketLink::IsConnected() const {
    WireReply reply;
    return Exchange(RequestOf(WireType::kIsConnected), nullptr, nullptr, 0, &reply) ==
               TransferResult::kCompleted &&
           reply.result == 1;
}

}  // namespace quorix::platform::usb
