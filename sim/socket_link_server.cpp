#include "sim/socket_link_server.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/log.h"
#include "platform/usb/socket_protocol.h"

namespace quorix::sim {

using platform::Log;
using platform::usb::CancelToken;
using platform::usb::ConnectUnixSocket;
using platform::usb::CreateWakeFd;
using platform::usb::DecodeRequest;
using platform::usb::EncodeReply;
using platform::usb::EncodeResult;
using platform::usb::ExpectedRequestPayload;
using platform::usb::IsUsableSocketPath;
using platform::usb::kWireReplyFlag;
using platform::usb::kWireReplySize;
using platform::usb::kWireRequestSize;
using platform::usb::ReceiveAll;
using platform::usb::SendAll;
using platform::usb::SetupPacket;
using platform::usb::SignalWakeFd;
using platform::usb::TransferResult;
using platform::usb::UniqueFd;
using platform::usb::UsbLink;
using platform::usb::WaitReadable;
using platform::usb::WaitResult;
using platform::usb::WireReply;
using platform::usb::WireRequest;
using platform::usb::WireType;

namespace {

// All transfer buffers the servers of this process hold at once stay below this [bytes], so
// clients asking for the largest transfers on many connections cannot exhaust the daemon's memory.
constexpr uint64_t kServerBufferBudget = 512ull << 20;
std::atomic<uint64_t> g_serverBufferBytes{0};

// A transfer buffer counted against the servers' budget for as long as it lives.
class BudgetedBuffer {
public:
    BudgetedBuffer() = default;
    ~BudgetedBuffer() { g_serverBufferBytes.fetch_sub(m_size); }
    BudgetedBuffer(const BudgetedBuffer&) = delete;
    BudgetedBuffer& operator=(const BudgetedBuffer&) = delete;

    // False when the budget has no room for `size` more bytes.
    bool Allocate(size_t size) {
        uint64_t held = g_serverBufferBytes.load();
        do {
            if (held + size > kServerBufferBudget)
                return false;
        } while (!g_serverBufferBytes.compare_exchange_weak(held, held + size));
        m_size = size;
        m_bytes = std::make_unique_for_overwrite<uint8_t[]>(std::max<size_t>(size, 1));
        return true;
    }
    uint8_t* Data() const { return m_bytes.get(); }

private:
    size_t m_size = 0;
    std::unique_ptr<uint8_t[]> m_bytes;
};

bool SendReply(int fd, WireType type, uint8_t result, uint32_t value, const uint8_t* data,
               uint32_t dataLength) {
    WireReply reply;
    reply.payloadLength = dataLength;
    reply.type = static_cast<uint8_t>(static_cast<uint8_t>(type) | kWireReplyFlag);
    reply.result = result;
    reply.value = value;
    uint8_t prefix[kWireReplySize];
    EncodeReply(reply, prefix);
    return SendAll(fd, prefix, sizeof prefix) && (dataLength == 0 || SendAll(fd, data, dataLength));
}

bool ServeControl(int fd, const WireRequest& request, UsbLink& device) {
    BudgetedBuffer buffer;
    if (!buffer.Allocate(request.length))
        return false;
    const bool deviceToHost = (request.requestType & 0x80) != 0;
    if (!deviceToHost && !ReceiveAll(fd, buffer.Data(), request.length))
        return false;
    SetupPacket setup;
    setup.requestType = request.requestType;
    setup.request = request.request;
    setup.value = request.value;
    setup.index = request.index;
    setup.length = static_cast<uint16_t>(request.length);
    size_t moved = 0;
    const TransferResult result = device.ControlTransfer(setup, buffer.Data(), &moved);
    const auto count = static_cast<uint32_t>(std::min<size_t>(moved, setup.length));
    return SendReply(fd, WireType::kControl, EncodeResult(result), count, buffer.Data(),
                     deviceToHost ? count : 0);
}

// Runs the transfer on a thread of its own while this one watches the connection for a cancel,
// so a client can end a bulk-in transfer that waits for data that never comes.
bool ServeBulk(int fd, const WireRequest& request, UsbLink& device) {
    BudgetedBuffer buffer;
    if (!buffer.Allocate(request.length)) {
        Log("Usb", "socket server: no room for a %u-byte transfer; client dropped", request.length);
        return false;
    }
    const bool inbound = (request.endpoint & 0x80) != 0;
    if (!inbound && !ReceiveAll(fd, buffer.Data(), request.length))
        return false;
    const UniqueFd done = CreateWakeFd();
    if (!done.IsValid())
        return SendReply(fd, WireType::kBulk, EncodeResult(TransferResult::kError), 0, nullptr, 0);

    CancelToken cancel;
    size_t moved = 0;
    TransferResult result = TransferResult::kError;
    std::thread transfer([&] {
        result =
            device.BulkTransfer(request.endpoint, buffer.Data(), request.length, &moved, cancel);
        SignalWakeFd(done.Get());
    });
    bool clientLost = false;
    while (!clientLost) {
        const WaitResult waited = WaitReadable(fd, done.Get(), -1);
        if (waited == WaitResult::kWoken)
            break;
        uint8_t prefix[kWireRequestSize];
        if (waited == WaitResult::kReadable && ReceiveAll(fd, prefix, sizeof prefix)) {
            const WireRequest message = DecodeRequest(prefix);
            if (message.type == static_cast<uint8_t>(WireType::kCancel) &&
                message.payloadLength == 0) {
                cancel.Cancel();
                continue;
            }
        }
        // A hang-up, or anything but a cancel while the transfer runs: the client is gone.
        clientLost = true;
        cancel.Cancel();
    }
    transfer.join();
    if (clientLost)
        return false;
    const auto count = static_cast<uint32_t>(std::min<size_t>(moved, request.length));
    return SendReply(fd, WireType::kBulk, EncodeResult(result), count, buffer.Data(),
                     inbound ? count : 0);
}

bool ServeRequest(int fd, const WireRequest& request, UsbLink& device) {
    switch (static_cast<WireType>(request.type)) {
        case WireType::kControl:
            return ServeControl(fd, request, device);
        case WireType::kBulk:
            return ServeBulk(fd, request, device);
        case WireType::kCancel:
            // The transfer it was meant for finished before the cancel arrived and has replied.
            return true;
        case WireType::kResetPipe:
            return SendReply(fd, WireType::kResetPipe, device.ResetPipe(request.endpoint) ? 1 : 0,
                             0, nullptr, 0);
        case WireType::kResetDevice:
            return SendReply(fd, WireType::kResetDevice, device.ResetDevice() ? 1 : 0, 0, nullptr,
                             0);
        case WireType::kDeviceSpeed:
            return SendReply(fd, WireType::kDeviceSpeed, 1, device.DeviceSpeed(), nullptr, 0);
        case WireType::kIsConnected:
            return SendReply(fd, WireType::kIsConnected, device.IsConnected() ? 1 : 0, 0, nullptr,
                             0);
    }
    return false;
}

}  // namespace

void ServeUsbLink(int connectedFd, UsbLink& device) {
    try {
        for (;;) {
            uint8_t prefix[kWireRequestSize];
            if (!ReceiveAll(connectedFd, prefix, sizeof prefix))
                return;
            const WireRequest request = DecodeRequest(prefix);
            // A malformed request ends the connection before anything is allocated for it.
            const std::optional<uint32_t> payload = ExpectedRequestPayload(request);
            if (!payload || request.payloadLength != *payload) {
                Log("Usb", "socket server: malformed request (type %u, payload %u bytes) dropped",
                    request.type, request.payloadLength);
                return;
            }
            if (!ServeRequest(connectedFd, request, device))
                return;
        }
    } catch (...) {
        // Out of memory or threads: this client loses its connection, the server carries on.
    }
}

SocketLinkServer::SocketLinkServer(std::string socketPath, std::shared_ptr<UsbLink> device)
    : m_socketPath(std::move(socketPath)), m_device(std::move(device)) {}

SocketLinkServer::~SocketLinkServer() {
    Stop();
}

bool SocketLinkServer::IsRunning() const {
    return m_running.load();
}

bool SocketLinkServer::Start() {
    std::lock_guard lifecycle(m_lifecycleMutex);
    if (m_running)
        return true;
    if (!m_device || !IsUsableSocketPath(m_socketPath))
        return false;
    // A socket file nobody listens on is left over from a daemon that died; a live one is not ours.
    struct stat existing {};
    if (lstat(m_socketPath.c_str(), &existing) == 0) {
        if (!S_ISSOCK(existing.st_mode) || ConnectUnixSocket(m_socketPath).IsValid()) {
            Log("Usb", "socket server: %s is in use", m_socketPath.c_str());
            return false;
        }
        unlink(m_socketPath.c_str());
    }

    UniqueFd listener(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    UniqueFd stopWake = CreateWakeFd();
    if (!listener.IsValid() || !stopWake.IsValid())
        return false;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, m_socketPath.c_str(), m_socketPath.size() + 1);
    if (bind(listener.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        Log("Usb", "socket server: bind(%s) failed: errno %d", m_socketPath.c_str(), errno);
        return false;
    }
    if (listen(listener.Get(), SOMAXCONN) != 0) {
        Log("Usb", "socket server: listen(%s) failed: errno %d", m_socketPath.c_str(), errno);
        unlink(m_socketPath.c_str());
        return false;
    }
    struct stat bound {};
    if (lstat(m_socketPath.c_str(), &bound) == 0)
        m_socketFile = {static_cast<uint64_t>(bound.st_dev), static_cast<uint64_t>(bound.st_ino)};
    m_listener = std::move(listener);
    m_stopWake = std::move(stopWake);
    try {
        m_acceptThread = std::thread(&SocketLinkServer::AcceptLoop, this);
    } catch (...) {
        Log("Usb", "socket server: no thread to accept connections on %s", m_socketPath.c_str());
        unlink(m_socketPath.c_str());
        m_listener.Reset();
        m_stopWake.Reset();
        return false;
    }
    m_running = true;
    return true;
}

void SocketLinkServer::Stop() {
    std::lock_guard lifecycle(m_lifecycleMutex);
    if (!m_running)
        return;
    SignalWakeFd(m_stopWake.Get());
    m_acceptThread.join();
    // Only our own socket file goes: another server may have taken the path over meanwhile.
    struct stat current {};
    if (lstat(m_socketPath.c_str(), &current) == 0 &&
        m_socketFile ==
            std::pair{static_cast<uint64_t>(current.st_dev), static_cast<uint64_t>(current.st_ino)})
        unlink(m_socketPath.c_str());
    m_listener.Reset();

    std::list<std::unique_ptr<Session>> sessions;
    {
        std::lock_guard lock(m_sessionsMutex);
        sessions = std::move(m_sessions);
        m_sessions.clear();
    }
    // Shutting a connection down wakes its thread wherever it blocks, and a transfer in progress
    // is cancelled as if its client had hung up.
    for (const auto& session : sessions)
        shutdown(session->socket.Get(), SHUT_RDWR);
    for (const auto& session : sessions)
        session->thread.join();
    m_stopWake.Reset();
    m_running = false;
}

void SocketLinkServer::AcceptLoop() {
    for (;;) {
        const WaitResult waited = WaitReadable(m_listener.Get(), m_stopWake.Get(), -1);
        if (waited == WaitResult::kWoken || waited == WaitResult::kError)
            return;
        UniqueFd client(accept4(m_listener.Get(), nullptr, nullptr, SOCK_CLOEXEC));
        if (!client.IsValid()) {
            // Out of descriptors: give clients time to close theirs rather than spin.
            if (errno == EMFILE || errno == ENFILE)
                WaitReadable(m_stopWake.Get(), -1, 10);
            continue;
        }
        std::lock_guard lock(m_sessionsMutex);
        ReapFinishedLocked();
        if (m_sessions.size() >= kMaxConnections)
            continue;
        auto session = std::make_unique<Session>();
        session->socket = std::move(client);
        Session* served = session.get();
        try {
            session->thread = std::thread([this, served] {
                ServeUsbLink(served->socket.Get(), *m_device);
                // The client learns at once that it was dropped; the descriptor is closed when
                // the session is reaped.
                shutdown(served->socket.Get(), SHUT_RDWR);
                served->finished = true;
            });
        } catch (...) {
            continue;
        }
        m_sessions.push_back(std::move(session));
    }
}

void SocketLinkServer::ReapFinishedLocked() {
    for (auto session = m_sessions.begin(); session != m_sessions.end();) {
        if ((*session)->finished) {
            (*session)->thread.join();
            session = m_sessions.erase(session);
        } else {
            ++session;
        }
    }
}

}  // namespace quorix::sim
