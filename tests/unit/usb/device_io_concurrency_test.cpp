#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <memory>
#include <thread>

#include "../platform/test_support.h"
#include "fake_usb_link.h"
#include "platform/event.h"
#include "platform/usb/device_io.h"
#include "request_buffers.h"

namespace quorix::platform::usb {
namespace {

using usbtest::kHeaderSize;

constexpr uint8_t kBulkIn = 0x81;
constexpr uint8_t kSecondIn = 0x83;

// A pending receive on the stream handle, as the capture thread leaves it while it waits for a
// frame.
struct PendingReceive {
    explicit PendingReceive(uint8_t endpoint, size_t size = 512)
        : header(usbtest::DirectHeader(endpoint)), data(size) {
        overlapped.event = &event;
    }
    bool Submit(const DeviceHandle& handle, uint32_t* error) {
        uint32_t bytes = 0;
        return DeviceIoControl(handle, kIoctlDirectTransfer, header.data(), kHeaderSize,
                               data.data(), static_cast<uint32_t>(data.size()), &bytes, &overlapped,
                               error);
    }

    Event event{false, false};
    std::array<uint8_t, kHeaderSize> header;
    std::vector<uint8_t> data;
    Overlapped overlapped;
};

bool Abort(const DeviceHandle& handle, uint8_t endpoint) {
    Event event(false, false);
    Overlapped overlapped;
    overlapped.event = &event;
    uint32_t error = 0;
    if (DeviceIoControl(handle, kIoctlAbortPipe, &endpoint, 1, nullptr, 0, nullptr, &overlapped,
                        &error))
        return true;
    return error == kErrorIoPending && event.Wait(-1);
}

class DeviceIoConcurrency : public ::testing::Test {
protected:
    void SetUp() override {
        usbtest::SetSimDirectory(nullptr);
        m_link = m_bus->Plug(0x04B4, 0x31C0, "cam0");
        m_path = EnumerateDeviceInterfaces(kCameraInterfaceGuid).at(0);
        m_stream = DeviceHandle::Open(m_path, true);
        ASSERT_TRUE(m_stream.IsValid());
    }

    usbtest::ScopedFakeProvider m_bus;
    std::shared_ptr<usbtest::FakeUsbLink> m_link;
    std::string m_path;
    DeviceHandle m_stream;
};

// Stopping a capture aborts the stream from the application's thread through its own handle;
// the capture thread's pending receive must end at once, reporting the abort.
TEST_F(DeviceIoConcurrency, AbortFromAnotherThreadEndsAPendingReceive) {
    PendingReceive receive(kBulkIn);
    uint32_t error = 0;
    ASSERT_FALSE(receive.Submit(m_stream, &error));
    ASSERT_EQ(error, kErrorIoPending);
    ASSERT_TRUE(m_link->WaitBlocked(kBulkIn));

    auto aborted = std::async(std::launch::async, [&] {
        DeviceHandle other = DeviceHandle::Open(m_path, true);
        return other.IsValid() && Abort(other, kBulkIn);
    });
    ASSERT_TRUE(platform::test::Finishes(aborted));
    EXPECT_TRUE(aborted.get());
    ASSERT_TRUE(receive.event.Wait(0)) << "the abort returns once the request has finished";
    uint32_t bytes = 0;
    EXPECT_FALSE(GetOverlappedResult(m_stream, receive.overlapped, &bytes, false, &error));
    EXPECT_EQ(error, kErrorOperationAborted);
    EXPECT_NE(usbtest::DriverStatus(receive.header.data()), 0u);
    EXPECT_EQ(m_link->CancelledTransfers(), 1);
}

TEST_F(DeviceIoConcurrency, AbortLeavesOtherEndpointsPending) {
    PendingReceive first(kBulkIn);
    PendingReceive second(kSecondIn);
    uint32_t error = 0;
    ASSERT_FALSE(first.Submit(m_stream, &error));
    ASSERT_FALSE(second.Submit(m_stream, &error));
    ASSERT_TRUE(m_link->WaitBlocked(kSecondIn));
    ASSERT_TRUE(Abort(m_stream, kBulkIn));
    EXPECT_TRUE(first.event.Wait(0));
    EXPECT_FALSE(second.event.Wait(20));

    m_link->QueueIn(kSecondIn, usbtest::Pattern(100, 1));
    uint32_t bytes = 0;
    ASSERT_TRUE(GetOverlappedResult(m_stream, second.overlapped, &bytes, true, &error));
    EXPECT_EQ(bytes, 100u);
}

// An abort issued right after the submission returned may find the driver's worker not yet in the
// device's transfer; it must cancel the request all the same, or the capture thread waits forever.
TEST_F(DeviceIoConcurrency, AbortRacingTheSubmissionNeverLeavesARequestHanging) {
    constexpr int kRounds = 300;
    for (int round = 0; round < kRounds; ++round) {
        PendingReceive receive(kBulkIn, 64);
        std::atomic<bool> submitted{false};
        std::thread aborter([&] {
            while (!submitted.load())
                std::this_thread::yield();
            Abort(m_stream, kBulkIn);
        });
        uint32_t error = 0;
        const bool done = receive.Submit(m_stream, &error);
        submitted = true;
        aborter.join();
        ASSERT_FALSE(done);
        ASSERT_EQ(error, kErrorIoPending);
        ASSERT_TRUE(receive.event.Wait(30000)) << "round " << round;
        uint32_t bytes = 0;
        ASSERT_FALSE(GetOverlappedResult(m_stream, receive.overlapped, &bytes, false, &error));
        ASSERT_EQ(error, kErrorOperationAborted) << "round " << round;
    }
}

// Closing the stream handle while a receive is pending must not leave a worker that later writes
// into the freed buffer (the sanitizer builds catch that write).
TEST_F(DeviceIoConcurrency, ClosingAHandleCancelsItsPendingRequests) {
    auto receive = std::make_unique<PendingReceive>(kBulkIn);
    uint32_t error = 0;
    ASSERT_FALSE(receive->Submit(m_stream, &error));
    ASSERT_TRUE(m_link->WaitBlocked(kBulkIn));
    m_stream.Close();
    EXPECT_TRUE(receive->event.Wait(0)) << "Close returns once the request has finished";
    receive.reset();
    // Data arriving now has no request left to land in.
    m_link->QueueIn(kBulkIn, usbtest::Pattern(512, 5));
    DeviceHandle again = DeviceHandle::Open(m_path, true);
    ASSERT_TRUE(again.IsValid());
    PendingReceive next(kBulkIn);
    ASSERT_FALSE(next.Submit(again, &error));
    uint32_t bytes = 0;
    ASSERT_TRUE(GetOverlappedResult(again, next.overlapped, &bytes, true, &error));
    EXPECT_EQ(next.data, usbtest::Pattern(512, 5));
}

TEST_F(DeviceIoConcurrency, ClosingOneHandleLeavesTheOthersRequestsPending) {
    DeviceHandle other = DeviceHandle::Open(m_path, true);
    PendingReceive mine(kBulkIn);
    PendingReceive theirs(kSecondIn);
    uint32_t error = 0;
    ASSERT_FALSE(mine.Submit(m_stream, &error));
    ASSERT_FALSE(theirs.Submit(other, &error));
    ASSERT_TRUE(m_link->WaitBlocked(kSecondIn));
    other.Close();
    EXPECT_TRUE(theirs.event.Wait(0));
    EXPECT_FALSE(mine.event.Wait(20));
    m_link->QueueIn(kBulkIn, usbtest::Pattern(8, 2));
    uint32_t bytes = 0;
    EXPECT_TRUE(GetOverlappedResult(m_stream, mine.overlapped, &bytes, true, &error));
    EXPECT_EQ(bytes, 8u);
}

// Transfers queued on one endpoint run in submission order: frame data must not be reordered.
TEST_F(DeviceIoConcurrency, TransfersOnOneEndpointCompleteInOrder) {
    constexpr int kQueued = 4;
    std::vector<std::unique_ptr<PendingReceive>> receives;
    uint32_t error = 0;
    for (int i = 0; i < kQueued; ++i) {
        receives.push_back(std::make_unique<PendingReceive>(kBulkIn, 16));
        ASSERT_FALSE(receives.back()->Submit(m_stream, &error));
    }
    for (int i = 0; i < kQueued; ++i)
        m_link->QueueIn(kBulkIn, usbtest::Pattern(16, static_cast<uint8_t>(i * 40)));
    for (int i = 0; i < kQueued; ++i) {
        uint32_t bytes = 0;
        ASSERT_TRUE(GetOverlappedResult(m_stream, receives[i]->overlapped, &bytes, true, &error));
        EXPECT_EQ(receives[i]->data, usbtest::Pattern(16, static_cast<uint8_t>(i * 40))) << i;
    }
}

TEST_F(DeviceIoConcurrency, OverlappedStillInUseIsRefused) {
    PendingReceive receive(kBulkIn);
    uint32_t error = 0;
    ASSERT_FALSE(receive.Submit(m_stream, &error));
    ASSERT_EQ(error, kErrorIoPending);
    EXPECT_FALSE(receive.Submit(m_stream, &error));
    EXPECT_EQ(error, kErrorInvalidParameter);
    ASSERT_TRUE(Abort(m_stream, kBulkIn));
}

// Control requests on fresh handles go on while the stream handle's receive waits, as the
// capture thread and the application's register calls do.
TEST_F(DeviceIoConcurrency, ControlRequestsRunWhileAReceiveWaits) {
    PendingReceive receive(kBulkIn);
    uint32_t error = 0;
    ASSERT_FALSE(receive.Submit(m_stream, &error));
    m_link->SetControlReply(usbtest::Pattern(64, 0));
    std::vector<std::thread> clients;
    clients.reserve(4);
    std::atomic<int> succeeded{0};
    for (int t = 0; t < 4; ++t)
        clients.emplace_back([&] {
            for (int i = 0; i < 25; ++i) {
                DeviceHandle fresh = DeviceHandle::Open(m_path, false);
                auto buffer = usbtest::ControlRequest(0xC0, 0xB5, 0, 0);
                uint32_t bytes = 0;
                uint32_t localError = 0;
                if (DeviceIoControl(fresh, kIoctlControlTransfer, buffer.data(), 102, buffer.data(),
                                    102, &bytes, nullptr, &localError) &&
                    bytes == 102)
                    ++succeeded;
            }
        });
    for (auto& client : clients)
        client.join();
    EXPECT_EQ(succeeded, 100);
    EXPECT_FALSE(receive.event.Wait(0));
    ASSERT_TRUE(Abort(m_stream, kBulkIn));
}

}  // namespace
}  // namespace quorix::platform::usb
