#include "platform/usb/socket_link.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <future>
#include <thread>

#include "../platform/test_support.h"
#include "fake_usb_link.h"
#include "platform/usb/device_io.h"
#include "platform/usb/socket_link_provider.h"
#include "request_buffers.h"
#include "sim/socket_link_server.h"

namespace quorix::platform::usb {
namespace {

using sim::SocketLinkServer;
using usbtest::FakeUsbLink;
using usbtest::Put32;

constexpr uint8_t kBulkIn = 0x81;
constexpr uint8_t kSecondIn = 0x83;
constexpr uint8_t kBulkOut = 0x01;

// A fresh directory for sockets, removed with everything in it.
class TempDirectory {
public:
    TempDirectory() {
        char pattern[] = "/tmp/quorix-usb-XXXXXX";
        m_path = mkdtemp(pattern);
    }
    ~TempDirectory() { std::filesystem::remove_all(m_path); }
    TempDirectory(const TempDirectory&) = delete;
    TempDirectory& operator=(const TempDirectory&) = delete;
    const std::string& Path() const { return m_path; }
    std::string File(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

// A socket bound at `path` (a listener when `backlog` > 0); dropping it without removing the file
// leaves the socket file of a server that died.
UniqueFd BoundSocket(const std::string& path, int backlog = 0) {
    UniqueFd bound(socket(AF_UNIX, SOCK_STREAM, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return {};
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    if (bind(bound.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        (backlog > 0 && listen(bound.Get(), backlog) != 0))
        return {};
    return bound;
}

// A raw client that speaks the wire format byte by byte, as a broken or hostile peer would.
UniqueFd RawConnect(const std::string& path) {
    return ConnectUnixSocket(path);
}

void SendPrefix(int fd, uint32_t payloadLength, uint8_t type, uint8_t endpoint, uint32_t length,
                uint8_t requestType = 0) {
    uint8_t prefix[16] = {};
    Put32(prefix, payloadLength);
    prefix[4] = type;
    prefix[5] = endpoint;
    prefix[6] = requestType;
    Put32(prefix + 12, length);
    ASSERT_TRUE(SendAll(fd, prefix, sizeof prefix));
}

// True when the server closed the connection (instead of answering or hanging).
bool ServerHungUp(int fd) {
    if (WaitReadable(fd, -1, 30000) != WaitResult::kReadable)
        return false;
    uint8_t byte = 0;
    return recv(fd, &byte, 1, 0) == 0;
}

class SocketLinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_device = std::make_shared<FakeUsbLink>();
        m_server = std::make_unique<SocketLinkServer>(m_socketPath, m_device);
        ASSERT_TRUE(m_server->Start());
        m_link = SocketLink::Connect(m_socketPath);
        ASSERT_NE(m_link, nullptr);
    }
    void TearDown() override { m_server->Stop(); }

    TempDirectory m_directory;
    std::string m_socketPath = m_directory.File("04b4-31c0-cam0.sock");
    std::shared_ptr<FakeUsbLink> m_device;
    std::unique_ptr<SocketLinkServer> m_server;
    std::shared_ptr<SocketLink> m_link;
};

TEST_F(SocketLinkTest, ControlTransfersReachTheRemoteDevice) {
    m_device->SetControlReply(usbtest::Pattern(64, 0x30));
    SetupPacket read{0xC0, 0xB5, 0x1234, 0x5678, 64};
    uint8_t reply[64] = {};
    size_t moved = 0;
    ASSERT_EQ(m_link->ControlTransfer(read, reply, &moved), TransferResult::kCompleted);
    EXPECT_EQ(moved, 64u);
    EXPECT_EQ(std::vector<uint8_t>(reply, reply + 64), usbtest::Pattern(64, 0x30));

    std::vector<uint8_t> payload = usbtest::Pattern(12, 0x70);
    SetupPacket write{0x40, 0xC3, 0x0001, 0x0002, 12};
    ASSERT_EQ(m_link->ControlTransfer(write, payload.data(), &moved), TransferResult::kCompleted);
    EXPECT_EQ(moved, 12u);

    const auto calls = m_device->ControlCalls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].setup.request, 0xB5);
    EXPECT_EQ(calls[0].setup.value, 0x1234);
    EXPECT_EQ(calls[0].setup.index, 0x5678);
    EXPECT_EQ(calls[0].setup.length, 64);
    EXPECT_EQ(calls[1].setup.requestType, 0x40);
    EXPECT_EQ(calls[1].payload, payload);

    m_device->SetControlStall(true);
    EXPECT_EQ(m_link->ControlTransfer(read, reply, &moved), TransferResult::kStalled);
}

TEST_F(SocketLinkTest, BulkTransfersSpeedAndResetsReachTheRemoteDevice) {
    CancelToken token;
    std::vector<uint8_t> block = usbtest::Pattern(1000, 4);
    size_t moved = 0;
    ASSERT_EQ(m_link->BulkTransfer(kBulkOut, block.data(), block.size(), &moved, token),
              TransferResult::kCompleted);
    EXPECT_EQ(moved, 1000u);
    EXPECT_EQ(m_device->Sent(kBulkOut), block);

    m_device->QueueIn(kBulkIn, usbtest::Pattern(300, 9));
    std::vector<uint8_t> frame(4096);
    ASSERT_EQ(m_link->BulkTransfer(kBulkIn, frame.data(), frame.size(), &moved, token),
              TransferResult::kCompleted);
    ASSERT_EQ(moved, 300u) << "a short packet ends the transfer short";
    EXPECT_EQ(std::vector<uint8_t>(frame.begin(), frame.begin() + 300), usbtest::Pattern(300, 9));

    EXPECT_EQ(m_link->DeviceSpeed(), 4u);
    EXPECT_TRUE(m_link->ResetPipe(kBulkIn));
    EXPECT_TRUE(m_link->ResetDevice());
    EXPECT_EQ(m_device->ResetPipes(), std::vector<uint8_t>{kBulkIn});
    EXPECT_EQ(m_device->DeviceResets(), 1);

    m_device->SetStall(kBulkIn, true);
    EXPECT_EQ(m_link->BulkTransfer(kBulkIn, frame.data(), frame.size(), &moved, token),
              TransferResult::kStalled);
}

TEST_F(SocketLinkTest, LargestTransferCrossesInOnePiece) {
    const size_t size = kMaxWirePayload;
    std::vector<uint8_t> big = usbtest::Pattern(size, 1);
    m_device->QueueIn(kBulkIn, big);
    std::vector<uint8_t> frame(size);
    CancelToken token;
    size_t moved = 0;
    ASSERT_EQ(m_link->BulkTransfer(kBulkIn, frame.data(), frame.size(), &moved, token),
              TransferResult::kCompleted);
    EXPECT_EQ(moved, size);
    EXPECT_TRUE(frame == big);
    EXPECT_EQ(m_link->BulkTransfer(kBulkIn, frame.data(), size + 1, &moved, token),
              TransferResult::kError)
        << "longer than any message may carry";
}

TEST_F(SocketLinkTest, UnpluggedRemoteDeviceAndStoppedServerReadAsDisconnected) {
    EXPECT_TRUE(m_link->IsConnected());
    m_device->Unplug();
    EXPECT_FALSE(m_link->IsConnected());
    uint8_t reply[64];
    size_t moved = 0;
    EXPECT_EQ(m_link->ControlTransfer({0xC0, 1, 0, 0, 64}, reply, &moved),
              TransferResult::kDisconnected);
    m_server->Stop();
    EXPECT_FALSE(m_link->IsConnected());
    EXPECT_EQ(m_link->DeviceSpeed(), 0u);
    EXPECT_EQ(SocketLink::Connect(m_socketPath), nullptr);
    EXPECT_FALSE(std::filesystem::exists(m_socketPath)) << "Stop removes the socket file";
}

// An abort in the application must reach a receive blocked in another process, or the capture
// thread of that application never ends.
TEST_F(SocketLinkTest, ConcurrencyCancelReachesABlockedRemoteReceive) {
    CancelToken token;
    std::vector<uint8_t> frame(512);
    auto receive = std::async(std::launch::async, [&] {
        size_t moved = 0;
        return m_link->BulkTransfer(kBulkIn, frame.data(), frame.size(), &moved, token);
    });
    ASSERT_TRUE(m_device->WaitBlocked(kBulkIn));
    token.Cancel();
    ASSERT_TRUE(platform::test::Finishes(receive));
    EXPECT_EQ(receive.get(), TransferResult::kCancelled);
    EXPECT_EQ(m_device->CancelledTransfers(), 1) << "the server cancelled the device's transfer";

    // The link carries on: the next transfer gets the next data.
    CancelToken next;
    m_device->QueueIn(kBulkIn, usbtest::Pattern(10, 1));
    size_t moved = 0;
    EXPECT_EQ(m_link->BulkTransfer(kBulkIn, frame.data(), frame.size(), &moved, next),
              TransferResult::kCompleted);
    EXPECT_EQ(moved, 10u);
}

TEST_F(SocketLinkTest, ConcurrencyTransfersOnTwoEndpointsRunAtTheSameTime) {
    CancelToken firstToken;
    CancelToken secondToken;
    std::vector<uint8_t> first(64);
    std::vector<uint8_t> second(64);
    auto waiting = std::async(std::launch::async, [&] {
        size_t moved = 0;
        return m_link->BulkTransfer(kBulkIn, first.data(), first.size(), &moved, firstToken);
    });
    auto answered = std::async(std::launch::async, [&] {
        size_t moved = 0;
        return m_link->BulkTransfer(kSecondIn, second.data(), second.size(), &moved, secondToken);
    });
    ASSERT_TRUE(m_device->WaitBlocked(kBulkIn));
    ASSERT_TRUE(m_device->WaitBlocked(kSecondIn));
    m_device->QueueIn(kSecondIn, usbtest::Pattern(64, 2));
    ASSERT_TRUE(platform::test::Finishes(answered));
    EXPECT_EQ(answered.get(), TransferResult::kCompleted);
    EXPECT_EQ(waiting.wait_for(std::chrono::milliseconds(20)), std::future_status::timeout);
    firstToken.Cancel();
    ASSERT_TRUE(platform::test::Finishes(waiting));
    EXPECT_EQ(waiting.get(), TransferResult::kCancelled);
}

TEST_F(SocketLinkTest, ConcurrencyStoppingTheServerEndsABlockedReceive) {
    CancelToken token;
    std::vector<uint8_t> frame(64);
    auto receive = std::async(std::launch::async, [&] {
        size_t moved = 0;
        return m_link->BulkTransfer(kBulkIn, frame.data(), frame.size(), &moved, token);
    });
    ASSERT_TRUE(m_device->WaitBlocked(kBulkIn));
    m_server->Stop();
    ASSERT_TRUE(platform::test::Finishes(receive));
    EXPECT_EQ(receive.get(), TransferResult::kDisconnected);
}

struct MalformedRequest {
    const char* what;
    uint32_t payloadLength;
    uint8_t type;
    uint8_t endpoint;
    uint32_t length;
};

class SocketLinkMalformed : public SocketLinkTest,
                            public ::testing::WithParamInterface<MalformedRequest> {};

// A broken or hostile client must lose its connection before the server allocates anything for
// its request, and the server must go on serving everyone else.
TEST_P(SocketLinkMalformed, ServerDropsTheClientAndServesOthers) {
    const MalformedRequest& bad = GetParam();
    UniqueFd raw = RawConnect(m_socketPath);
    ASSERT_TRUE(raw.IsValid());
    SendPrefix(raw.Get(), bad.payloadLength, bad.type, bad.endpoint, bad.length);
    EXPECT_TRUE(ServerHungUp(raw.Get())) << bad.what;
    EXPECT_TRUE(m_link->IsConnected()) << "the server still serves well-behaved clients";
}

INSTANTIATE_TEST_SUITE_P(
    Table, SocketLinkMalformed,
    ::testing::Values(
        MalformedRequest{"payload of 4 GiB", 0xFFFFFFFF, 2, kBulkOut, 0xFFFFFFFF},
        MalformedRequest{"bulk-in longer than any transfer", 0, 2, kBulkIn, kMaxWirePayload + 1},
        MalformedRequest{"payload that disagrees with the length", 10, 2, kBulkOut, 20},
        MalformedRequest{"bulk on the control endpoint", 0, 2, 0x00, 64},
        MalformedRequest{"control data stage beyond 16 bits", 0x10000, 1, 0, 0x10000},
        MalformedRequest{"unknown type", 0, 0x55, 0, 0},
        MalformedRequest{"payload on a request that takes none", 8, 6, 0, 0}),
    [](const auto& info) { return std::to_string(info.index); });

// A hostile server must not make the client allocate or write past the caller's buffer.
TEST(SocketLinkHostileServer, OversizedRepliesAreRejected) {
    TempDirectory directory;
    const std::string path = directory.File("hostile.sock");
    const UniqueFd listener = BoundSocket(path, 4);
    ASSERT_TRUE(listener.IsValid());

    // Greets the client as a camera would, then answers its first request with a reply longer
    // than anything a message may carry, the second with more data than the client asked for.
    std::thread server([&] {
        for (int connection = 0; connection < 2; ++connection) {
            UniqueFd client(accept(listener.Get(), nullptr, nullptr));
            uint8_t request[16];
            if (connection == 0) {
                uint8_t greeting[16] = {};
                if (!ReceiveAll(client.Get(), request, sizeof request))
                    continue;
                greeting[4] = static_cast<uint8_t>(request[4] | 0x80);
                greeting[5] = 1;
                SendAll(client.Get(), greeting, sizeof greeting);
            }
            if (!ReceiveAll(client.Get(), request, sizeof request))
                continue;
            uint8_t reply[16] = {};
            const uint32_t claimed = connection == 0 ? 0x7FFFFFFF : 64;
            Put32(reply, claimed);  // payload length
            reply[4] = static_cast<uint8_t>(request[4] | 0x80);
            Put32(reply + 8, claimed);  // bytes moved
            SendAll(client.Get(), reply, sizeof reply);
            std::vector<uint8_t> junk(64, 0xAB);
            SendAll(client.Get(), junk.data(), junk.size());
            ServerHungUp(client.Get());
        }
    });
    std::shared_ptr<SocketLink> link = SocketLink::Connect(path);
    ASSERT_NE(link, nullptr);
    std::vector<uint8_t> frame(16, 0);
    CancelToken token;
    size_t moved = 99;
    EXPECT_EQ(link->BulkTransfer(kBulkIn, frame.data(), frame.size(), &moved, token),
              TransferResult::kError);
    EXPECT_EQ(moved, 0u);
    uint8_t reply[16] = {};
    EXPECT_EQ(link->ControlTransfer({0xC0, 1, 0, 0, 16}, reply, &moved), TransferResult::kError);
    EXPECT_EQ(frame, std::vector<uint8_t>(16, 0));
    link.reset();
    server.join();
}

TEST(SocketLinkServerStart, RefusesALiveSocketAndReplacesAStaleOne) {
    TempDirectory directory;
    const std::string path = directory.File("04b4-31c0-x.sock");
    auto device = std::make_shared<FakeUsbLink>();
    // A socket file left behind by a daemon that died.
    ASSERT_TRUE(BoundSocket(path).IsValid());
    EXPECT_EQ(SocketLink::Connect(path), nullptr);
    SocketLinkServer first(path, device);
    ASSERT_TRUE(first.Start());
    EXPECT_NE(SocketLink::Connect(path), nullptr);
    SocketLinkServer second(path, device);
    EXPECT_FALSE(second.Start()) << "another server listens there";
    EXPECT_FALSE(SocketLinkServer(directory.File(std::string(120, 'x')), device).Start());
}

TEST(SocketFileName, FollowsTheDirectorysNamingScheme) {
    EXPECT_EQ(SocketFileName(0x04B4, 0x31C0, "cam-1.a_B"), "04b4-31c0-cam-1.a_B.sock");
    EXPECT_EQ(SocketFileName(0x04B4, 0x31C0, ""), "");
    EXPECT_EQ(SocketFileName(0x04B4, 0x31C0, "a#b"), "") << "'#' separates the path's parts";
    EXPECT_EQ(SocketFileName(0x04B4, 0x31C0, std::string(65, 'a')), "");

    const auto parsed = ParseSocketFileName("04b4-31c0-cam-1.sock");
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(parsed->vendorId, 0x04B4);
    EXPECT_EQ(parsed->productId, 0x31C0);
    EXPECT_EQ(parsed->instanceId, "cam-1");
    for (const char* bad : {"04b4-31c0-.sock", "04B4-31c0-x.sock", "04b4_31c0-x.sock",
                            "04b4-31c0-x.sock.tmp", "04b4-31c0-x y.sock", "readme.txt"})
        EXPECT_FALSE(ParseSocketFileName(bad).has_value()) << bad;
}

// What the emulator daemon serves, seen by an application through QUORIX_SIM_DIR.
class SocketLinkProviderTest : public ::testing::Test {
protected:
    void SetUp() override {
        usbtest::SetSimDirectory(nullptr);
        m_first = std::make_shared<FakeUsbLink>();
        m_second = std::make_shared<FakeUsbLink>();
        m_servers.push_back(std::make_unique<SocketLinkServer>(
            m_directory.File(SocketFileName(0x04B4, 0x31C0, "sim-b")), m_first));
        m_servers.push_back(std::make_unique<SocketLinkServer>(
            m_directory.File(SocketFileName(0x04B4, 0x31C0, "sim-a")), m_second));
        for (const auto& server : m_servers) {
            ASSERT_TRUE(server->Start());
        }
        // A socket nobody serves any more and a file that is no camera.
        ASSERT_TRUE(BoundSocket(m_directory.File("04b4-31c0-dead.sock")).IsValid());
        std::fclose(std::fopen(m_directory.File("notes.txt").c_str(), "w"));
    }
    void TearDown() override { usbtest::SetSimDirectory(nullptr); }

    static std::string PathOf(const char* instance) {
        return std::string("\\\\?\\usb#vid_04b4&pid_31c0#") + instance +
               "#{5d1b7c2e-4a90-4f6b-8e13-9c07a2f4d6b1}";
    }

    TempDirectory m_directory;
    std::shared_ptr<FakeUsbLink> m_first;
    std::shared_ptr<FakeUsbLink> m_second;
    std::vector<std::unique_ptr<SocketLinkServer>> m_servers;
};

TEST_F(SocketLinkProviderTest, ListsServedCamerasInNameOrder) {
    SocketLinkProvider provider(m_directory.Path());
    const std::vector<LinkDescriptor> present = provider.Enumerate();
    ASSERT_EQ(present.size(), 2u);
    EXPECT_EQ(present[0].instanceId, "sim-a");
    EXPECT_EQ(present[1].instanceId, "sim-b");
    EXPECT_EQ(present[0].vendorId, 0x04B4);
    EXPECT_EQ(present[0].productId, 0x31C0);
    EXPECT_TRUE(present[0].interfaceClass == kCameraInterfaceGuid);
    EXPECT_NE(provider.Open("sim-b"), nullptr);
    EXPECT_EQ(provider.Open("dead"), nullptr);
    EXPECT_EQ(provider.Open("nothing"), nullptr);
}

// A directory full of other files and a socket that accepts but never answers: discovery
// connects to sockets only, leaves the silent one out after it failed to answer once, and a
// request on a camera found before opens it without reading the directory again.
TEST_F(SocketLinkProviderTest, DiscoveryCostDoesNotGrowWithWhatElseTheDirectoryHolds) {
    for (int i = 0; i < 300; ++i) {
        const std::string stray =
            m_directory.File(SocketFileName(0x04B4, 0x31C0, "stray" + std::to_string(i)));
        std::fclose(std::fopen(stray.c_str(), "w"));
        std::fclose(std::fopen(m_directory.File("other" + std::to_string(i)).c_str(), "w"));
    }
    ASSERT_EQ(mkfifo(m_directory.File("04b4-31c0-fifo.sock").c_str(), 0600), 0);
    const UniqueFd silent = BoundSocket(m_directory.File("04b4-31c0-silent.sock"), 1);
    ASSERT_TRUE(silent.IsValid());
    auto provider = std::make_shared<SocketLinkProvider>(m_directory.Path());
    RegisterProvider(provider);
    struct Unregister {
        std::shared_ptr<SocketLinkProvider> provider;
        ~Unregister() { UnregisterProvider(provider); }
    } unregister{provider};

    // sim-a, sim-b, dead and silent are sockets; nothing else is connected to.
    EXPECT_EQ(EnumerateDeviceInterfaces(kCameraInterfaceGuid),
              (std::vector<std::string>{PathOf("silent"), PathOf("sim-a"), PathOf("sim-b")}));
    EXPECT_EQ(provider->SocketConnects(), 4u);
    EXPECT_FALSE(DeviceHandle::Open(PathOf("silent"), false).IsValid());
    const uint64_t connects = provider->SocketConnects();
    EXPECT_EQ(EnumerateDeviceInterfaces(kCameraInterfaceGuid),
              (std::vector<std::string>{PathOf("sim-a"), PathOf("sim-b")}));
    EXPECT_EQ(provider->SocketConnects(), connects + 3) << "the silent socket is tried again";

    // Each request on a fresh handle connects once to its camera and scans nothing.
    const uint64_t scans = provider->DirectoryScans();
    for (int request = 0; request < 20; ++request)
        EXPECT_TRUE(DeviceHandle::Open(PathOf("sim-b"), false).IsValid());
    EXPECT_EQ(provider->DirectoryScans(), scans);
    EXPECT_EQ(provider->SocketConnects(), connects + 3 + 20);
}

// An application that sets nothing must never see an emulated camera.
TEST_F(SocketLinkProviderTest, DriverListsTheDaemonsCamerasOnlyWhileTheVariableNamesItsDirectory) {
    EXPECT_TRUE(EnumerateDeviceInterfaces(kCameraInterfaceGuid).empty());
    usbtest::SetSimDirectory(m_directory.Path().c_str());
    EXPECT_EQ(EnumerateDeviceInterfaces(kCameraInterfaceGuid),
              (std::vector<std::string>{PathOf("sim-a"), PathOf("sim-b")}));
    usbtest::SetSimDirectory(m_directory.File("notes.txt").c_str());
    EXPECT_TRUE(EnumerateDeviceInterfaces(kCameraInterfaceGuid).empty()) << "not a directory";
    usbtest::SetSimDirectory(nullptr);
    EXPECT_TRUE(EnumerateDeviceInterfaces(kCameraInterfaceGuid).empty());
    EXPECT_FALSE(DeviceHandle::Open(PathOf("sim-a"), false).IsValid());
}

// The whole way an application in another process takes: driver requests over the daemon's
// socket, including an abort of a receive that waits in the daemon.
TEST_F(SocketLinkProviderTest, ConcurrencyDriverRequestsRunOnTheDaemonsCamera) {
    usbtest::SetSimDirectory(m_directory.Path().c_str());
    m_first->SetControlReply(usbtest::Pattern(64, 0x11));
    DeviceHandle control = DeviceHandle::Open(PathOf("sim-b"), false);
    ASSERT_TRUE(control.IsValid());
    auto buffer = usbtest::ControlRequest(0xC0, 0xB5, 1, 2);
    uint32_t bytes = 0;
    uint32_t error = 0;
    ASSERT_TRUE(DeviceIoControl(control, kIoctlControlTransfer, buffer.data(), 102, buffer.data(),
                                102, &bytes, nullptr, &error));
    EXPECT_EQ(bytes, 102u);
    EXPECT_TRUE(std::equal(buffer.begin() + 38, buffer.end(), usbtest::Pattern(64, 0x11).begin()));

    DeviceHandle stream = DeviceHandle::Open(PathOf("sim-b"), true);
    Event event(false, false);
    Overlapped overlapped;
    overlapped.event = &event;
    auto header = usbtest::DirectHeader(kBulkIn);
    std::vector<uint8_t> frame(256);
    ASSERT_FALSE(DeviceIoControl(stream, kIoctlDirectTransfer, header.data(), 38, frame.data(), 256,
                                 &bytes, &overlapped, &error));
    ASSERT_EQ(error, kErrorIoPending);
    ASSERT_TRUE(m_first->WaitBlocked(kBulkIn));
    uint8_t endpoint = kBulkIn;
    ASSERT_TRUE(DeviceIoControl(control, kIoctlAbortPipe, &endpoint, 1, nullptr, 0, &bytes, nullptr,
                                &error));
    ASSERT_TRUE(event.Wait(0));
    EXPECT_FALSE(GetOverlappedResult(stream, overlapped, &bytes, false, &error));
    EXPECT_EQ(error, kErrorOperationAborted);

    m_first->QueueIn(kBulkIn, usbtest::Pattern(256, 8));
    if (!DeviceIoControl(stream, kIoctlDirectTransfer, header.data(), 38, frame.data(), 256, &bytes,
                         &overlapped, &error)) {
        ASSERT_EQ(error, kErrorIoPending);
    }
    ASSERT_TRUE(GetOverlappedResult(stream, overlapped, &bytes, true, &error));
    EXPECT_EQ(frame, usbtest::Pattern(256, 8));
}

}  // namespace
}  // namespace quorix::platform::usb
