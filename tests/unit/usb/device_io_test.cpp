#include "platform/usb/device_io.h"

#include <gtest/gtest.h>

#include "fake_usb_link.h"
#include "platform/event.h"
#include "request_buffers.h"

namespace quorix::platform::usb {
namespace {

using usbtest::FakeUsbLink;
using usbtest::kHeaderSize;

constexpr uint8_t kBulkIn = 0x81;
constexpr uint8_t kBulkOut = 0x01;

// One camera on a fake bus, with a synchronous handle (as control requests use) and an
// overlapped one (as the stream uses).
class DeviceIo : public ::testing::Test {
protected:
    void SetUp() override {
        usbtest::SetSimDirectory(nullptr);
        m_link = m_bus->Plug(0x04B4, 0x31C0, "cam0");
        m_path = EnumerateDeviceInterfaces(kCameraInterfaceGuid).at(0);
        m_sync = DeviceHandle::Open(m_path, false);
        m_stream = DeviceHandle::Open(m_path, true);
        ASSERT_TRUE(m_sync.IsValid());
        ASSERT_TRUE(m_stream.IsValid());
    }

    usbtest::ScopedFakeProvider m_bus;
    std::shared_ptr<FakeUsbLink> m_link;
    std::string m_path;
    Event m_event{false, false};
    DeviceHandle m_sync;
    DeviceHandle m_stream;
};

// The data stage is the header's 64-byte buffer length; taking the header's length field (102)
// would read past the camera's reply and claim bytes the device never sent.
TEST_F(DeviceIo, ControlReadBuildsTheSetupFromTheHeaderAndReturns102Bytes) {
    const std::vector<uint8_t> reply = usbtest::Pattern(64, 0x40);
    m_link->SetControlReply(reply);
    auto buffer = usbtest::ControlRequest(0xC0, 0xB5, 0x1234, 0x5678);
    uint32_t bytes = 0;
    uint32_t error = 99;
    ASSERT_TRUE(DeviceIoControl(m_sync, kIoctlControlTransfer, buffer.data(), 102, buffer.data(),
                                102, &bytes, nullptr, &error));
    EXPECT_EQ(error, kErrorSuccess);
    EXPECT_EQ(bytes, 102u) << "38 header bytes + 64 data bytes";
    EXPECT_TRUE(std::equal(reply.begin(), reply.end(), buffer.begin() + kHeaderSize));
    EXPECT_EQ(usbtest::DriverStatus(buffer.data()), 0u);
    EXPECT_EQ(usbtest::BusStatus(buffer.data()), 0u);

    const auto calls = m_link->ControlCalls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].setup.requestType, 0xC0);
    EXPECT_EQ(calls[0].setup.request, 0xB5);
    EXPECT_EQ(calls[0].setup.value, 0x1234);
    EXPECT_EQ(calls[0].setup.index, 0x5678);
    EXPECT_EQ(calls[0].setup.length, 64);
}

TEST_F(DeviceIo, ShortControlReplyCountsOnlyTheBytesMoved) {
    m_link->SetControlReply({1, 2, 3, 4, 5, 6, 7, 8});
    auto buffer = usbtest::ControlRequest(0xC0, 0xB0, 0, 0);
    uint32_t bytes = 0;
    uint32_t error = 0;
    ASSERT_TRUE(DeviceIoControl(m_sync, kIoctlControlTransfer, buffer.data(), 102, buffer.data(),
                                102, &bytes, nullptr, &error));
    EXPECT_EQ(bytes, kHeaderSize + 8);
}

TEST_F(DeviceIo, ControlWriteSendsThePayloadAtOffset38) {
    const std::vector<uint8_t> payload = usbtest::Pattern(64, 0x90);
    auto buffer = usbtest::ControlRequest(0x42, 0xC3, 0x0081, 0x0002, payload);
    uint32_t bytes = 0;
    uint32_t error = 0;
    ASSERT_TRUE(DeviceIoControl(m_sync, kIoctlControlTransfer, buffer.data(), 102, buffer.data(),
                                102, &bytes, nullptr, &error));
    EXPECT_EQ(bytes, 102u);
    const auto calls = m_link->ControlCalls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].setup.requestType, 0x42);
    EXPECT_EQ(calls[0].setup.request, 0xC3);
    EXPECT_EQ(calls[0].setup.value, 0x0081);
    EXPECT_EQ(calls[0].setup.index, 0x0002);
    EXPECT_EQ(calls[0].payload, payload);
}

// The transport decides a vendor request failed from the status words; a stall that left them 0
// would look like success with garbage data.
TEST_F(DeviceIo, StalledControlRequestFailsWithNonzeroStatusWords) {
    m_link->SetControlStall(true);
    auto buffer = usbtest::ControlRequest(0xC0, 0xB5, 0, 0);
    uint32_t bytes = 0;
    uint32_t error = 0;
    EXPECT_FALSE(DeviceIoControl(m_sync, kIoctlControlTransfer, buffer.data(), 102, buffer.data(),
                                 102, &bytes, nullptr, &error));
    EXPECT_EQ(error, kErrorGenFailure);
    EXPECT_NE(usbtest::DriverStatus(buffer.data()), 0u);
    EXPECT_NE(usbtest::BusStatus(buffer.data()), 0u);
}

TEST_F(DeviceIo, BufferedWriteCountsHeaderAndData) {
    const std::vector<uint8_t> data = usbtest::Pattern(32, 1);
    std::vector<uint8_t> buffer = usbtest::BufferedRequest(kBulkOut, data);
    uint32_t bytes = 0;
    uint32_t error = 0;
    ASSERT_TRUE(DeviceIoControl(m_stream, kIoctlBufferedTransfer, buffer.data(),
                                static_cast<uint32_t>(buffer.size()), buffer.data(),
                                static_cast<uint32_t>(buffer.size()), &bytes, nullptr, &error))
        << "without an Overlapped the request completes before returning";
    EXPECT_EQ(bytes, kHeaderSize + 32);
    EXPECT_EQ(m_link->Sent(kBulkOut), data);
    EXPECT_EQ(usbtest::DriverStatus(buffer.data()), 0u);
}

TEST_F(DeviceIo, OverlappedBufferedReadCompletesThroughTheEventWithAShortCount) {
    const std::vector<uint8_t> data = usbtest::Pattern(20, 7);
    m_link->QueueIn(kBulkIn, data);
    std::vector<uint8_t> buffer = usbtest::BufferedRequest(kBulkIn, std::vector<uint8_t>(64));
    Overlapped overlapped;
    overlapped.event = &m_event;
    uint32_t bytes = 0;
    uint32_t error = 0;
    const bool done = DeviceIoControl(
        m_stream, kIoctlBufferedTransfer, buffer.data(), static_cast<uint32_t>(buffer.size()),
        buffer.data(), static_cast<uint32_t>(buffer.size()), &bytes, &overlapped, &error);
    if (!done) {
        ASSERT_EQ(error, kErrorIoPending);
    }
    ASSERT_TRUE(m_event.Wait(30000));
    ASSERT_TRUE(GetOverlappedResult(m_stream, overlapped, &bytes, false, &error));
    EXPECT_EQ(bytes, kHeaderSize + 20);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), buffer.begin() + kHeaderSize));
}

// The capture thread waits for frame data with a limit and must not be blocked by the driver
// meanwhile; the data arriving later completes the same request.
TEST_F(DeviceIo, DirectReceiveStaysPendingUntilDataArrives) {
    auto header = usbtest::DirectHeader(kBulkIn);
    std::vector<uint8_t> data(256, 0xEE);
    Overlapped overlapped;
    overlapped.event = &m_event;
    uint32_t bytes = 0;
    uint32_t error = 0;
    ASSERT_FALSE(DeviceIoControl(m_stream, kIoctlDirectTransfer, header.data(), kHeaderSize,
                                 data.data(), static_cast<uint32_t>(data.size()), &bytes,
                                 &overlapped, &error));
    ASSERT_EQ(error, kErrorIoPending);
    EXPECT_FALSE(GetOverlappedResult(m_stream, overlapped, &bytes, false, &error));
    EXPECT_EQ(error, kErrorIoIncomplete);
    EXPECT_FALSE(m_event.Wait(20)) << "no data, no completion";

    const std::vector<uint8_t> frame = usbtest::Pattern(256, 3);
    m_link->QueueIn(kBulkIn, frame);
    ASSERT_TRUE(m_event.Wait(30000));
    ASSERT_TRUE(GetOverlappedResult(m_stream, overlapped, &bytes, false, &error));
    EXPECT_EQ(error, kErrorSuccess);
    EXPECT_EQ(bytes, 256u) << "a direct transfer counts only the data";
    EXPECT_EQ(data, frame);
    EXPECT_EQ(usbtest::DriverStatus(header.data()), 0u);
    EXPECT_EQ(usbtest::BusStatus(header.data()), 0u);
}

TEST_F(DeviceIo, DirectSendMovesTheCallersBuffer) {
    auto header = usbtest::DirectHeader(kBulkOut);
    std::vector<uint8_t> block = usbtest::Pattern(32, 0x55);
    Overlapped overlapped;
    overlapped.event = &m_event;
    uint32_t bytes = 0;
    uint32_t error = 0;
    if (!DeviceIoControl(m_stream, kIoctlDirectTransfer, header.data(), kHeaderSize, block.data(),
                         32, &bytes, &overlapped, &error)) {
        ASSERT_EQ(error, kErrorIoPending);
    }
    ASSERT_TRUE(GetOverlappedResult(m_stream, overlapped, &bytes, true, &error));
    EXPECT_EQ(bytes, 32u);
    EXPECT_EQ(m_link->Sent(kBulkOut), block);
    EXPECT_TRUE(m_event.Wait(0)) << "the event is set on completion";
}

TEST_F(DeviceIo, StalledEndpointFailsTheTransferWithStatusWords) {
    m_link->SetStall(kBulkIn, true);
    auto header = usbtest::DirectHeader(kBulkIn);
    std::vector<uint8_t> data(64);
    Overlapped overlapped;
    overlapped.event = &m_event;
    uint32_t bytes = 0;
    uint32_t error = 0;
    EXPECT_FALSE(DeviceIoControl(m_stream, kIoctlDirectTransfer, header.data(), kHeaderSize,
                                 data.data(), 64, &bytes, &overlapped, &error));
    EXPECT_FALSE(GetOverlappedResult(m_stream, overlapped, &bytes, true, &error));
    EXPECT_EQ(error, kErrorGenFailure);
    EXPECT_NE(usbtest::DriverStatus(header.data()), 0u);
    EXPECT_NE(usbtest::BusStatus(header.data()), 0u);

    uint8_t endpoint = kBulkIn;
    EXPECT_TRUE(DeviceIoControl(m_sync, kIoctlResetPipe, &endpoint, 1, nullptr, 0, nullptr, nullptr,
                                &error));
    EXPECT_EQ(m_link->ResetPipes(), std::vector<uint8_t>{kBulkIn});
}

// On a handle opened without the overlapped flag the request completes before the call returns,
// even when the caller passes an Overlapped.
TEST_F(DeviceIo, SynchronousHandleCompletesBulkTransfersBeforeReturning) {
    m_link->QueueIn(kBulkIn, usbtest::Pattern(16, 9));
    auto header = usbtest::DirectHeader(kBulkIn);
    std::vector<uint8_t> data(16);
    Overlapped overlapped;
    overlapped.event = &m_event;
    uint32_t bytes = 0;
    uint32_t error = 0;
    ASSERT_TRUE(DeviceIoControl(m_sync, kIoctlDirectTransfer, header.data(), kHeaderSize,
                                data.data(), 16, &bytes, &overlapped, &error));
    EXPECT_EQ(bytes, 16u);
    EXPECT_EQ(data, usbtest::Pattern(16, 9));
    EXPECT_TRUE(m_event.Wait(0));
}

TEST_F(DeviceIo, SpeedAndResets) {
    uint8_t word[4] = {};
    uint32_t bytes = 0;
    uint32_t error = 0;
    ASSERT_TRUE(
        DeviceIoControl(m_sync, kIoctlDeviceSpeed, word, 4, word, 4, &bytes, nullptr, &error));
    EXPECT_EQ(bytes, 4u);
    EXPECT_EQ(usbtest::Get32(word), 4u) << "SuperSpeed";
    EXPECT_TRUE(DeviceIoControl(m_sync, kIoctlResetDevice, nullptr, 0, nullptr, 0, &bytes, nullptr,
                                &error));
    EXPECT_EQ(m_link->DeviceResets(), 1);
}

// An abort with nothing pending, the transport's recovery step after a timed-out transfer that
// completed meanwhile, must still succeed and set its event.
TEST_F(DeviceIo, AbortWithNothingPendingCompletesAtOnce) {
    uint8_t endpoint = kBulkIn;
    Overlapped overlapped;
    overlapped.event = &m_event;
    uint32_t error = 99;
    EXPECT_TRUE(DeviceIoControl(m_stream, kIoctlAbortPipe, &endpoint, 1, nullptr, 0, nullptr,
                                &overlapped, &error));
    EXPECT_EQ(error, kErrorSuccess);
    EXPECT_TRUE(m_event.Wait(0));
}

struct BadRequest {
    const char* what;
    uint32_t code;
    uint32_t inSize;
    uint32_t outSize;
    uint32_t error;
};

class DeviceIoBadRequest : public DeviceIo, public ::testing::WithParamInterface<BadRequest> {};

// A request the driver cannot carry out must fail cleanly, never read or write past a buffer.
TEST_P(DeviceIoBadRequest, FailsWithItsErrorCode) {
    const BadRequest& bad = GetParam();
    std::vector<uint8_t> in(bad.inSize + 1);
    std::vector<uint8_t> out(bad.outSize + 1);
    auto control = usbtest::ControlRequest(0xC0, 0xB5, 0, 0);
    std::copy(control.begin(), control.begin() + std::min<size_t>(bad.inSize, 102), in.begin());
    if (bad.inSize > 13)
        in[13] = kBulkIn;
    uint32_t bytes = 0;
    uint32_t error = 0;
    EXPECT_FALSE(DeviceIoControl(m_sync, bad.code, in.data(), bad.inSize, out.data(), bad.outSize,
                                 &bytes, nullptr, &error));
    EXPECT_EQ(error, bad.error) << bad.what;
}

INSTANTIATE_TEST_SUITE_P(
    Table, DeviceIoBadRequest,
    ::testing::Values(
        BadRequest{"unknown code", 0x220028, 38, 38, kErrorInvalidParameter},
        BadRequest{"control header cut short", kIoctlControlTransfer, 37, 102,
                   kErrorInsufficientBuffer},
        BadRequest{"control data stage past the buffer", kIoctlControlTransfer, 102, 101,
                   kErrorInsufficientBuffer},
        BadRequest{"direct header cut short", kIoctlDirectTransfer, 20, 64,
                   kErrorInsufficientBuffer},
        BadRequest{"buffered data past the buffer", kIoctlBufferedTransfer, 38, 38,
                   kErrorInsufficientBuffer},
        BadRequest{"speed word does not fit", kIoctlDeviceSpeed, 4, 3, kErrorInsufficientBuffer},
        BadRequest{"reset pipe without endpoint", kIoctlResetPipe, 0, 0, kErrorInsufficientBuffer},
        BadRequest{"abort without endpoint", kIoctlAbortPipe, 0, 0, kErrorInsufficientBuffer}),
    [](const auto& info) { return std::to_string(info.index); });

TEST_F(DeviceIo, BulkOnTheControlEndpointIsRefused) {
    auto header = usbtest::DirectHeader(0x00);
    std::vector<uint8_t> data(8);
    uint32_t error = 0;
    EXPECT_FALSE(DeviceIoControl(m_sync, kIoctlDirectTransfer, header.data(), kHeaderSize,
                                 data.data(), 8, nullptr, nullptr, &error));
    EXPECT_EQ(error, kErrorInvalidParameter);
}

TEST_F(DeviceIo, InvalidOrClosedHandleIsRefused) {
    DeviceHandle none;
    auto buffer = usbtest::ControlRequest(0xC0, 0xB5, 0, 0);
    uint32_t error = 0;
    EXPECT_FALSE(DeviceIoControl(none, kIoctlControlTransfer, buffer.data(), 102, buffer.data(),
                                 102, nullptr, nullptr, &error));
    EXPECT_EQ(error, kErrorInvalidHandle);
    m_sync.Close();
    EXPECT_FALSE(DeviceIoControl(m_sync, kIoctlControlTransfer, buffer.data(), 102, buffer.data(),
                                 102, nullptr, nullptr, &error));
    EXPECT_EQ(error, kErrorInvalidHandle);
    Overlapped overlapped;
    EXPECT_FALSE(GetOverlappedResult(m_stream, overlapped, nullptr, false, &error));
    EXPECT_EQ(error, kErrorInvalidParameter) << "an Overlapped that never carried a request";
}

// An unplugged camera must end the capture thread's wait instead of leaving it pending forever,
// and every later request must say the device is gone.
TEST_F(DeviceIo, UnplugEndsAPendingReceiveAndFailsLaterRequests) {
    auto header = usbtest::DirectHeader(kBulkIn);
    std::vector<uint8_t> data(64);
    Overlapped overlapped;
    overlapped.event = &m_event;
    uint32_t bytes = 0;
    uint32_t error = 0;
    ASSERT_FALSE(DeviceIoControl(m_stream, kIoctlDirectTransfer, header.data(), kHeaderSize,
                                 data.data(), 64, &bytes, &overlapped, &error));
    ASSERT_EQ(error, kErrorIoPending);
    ASSERT_TRUE(m_link->WaitBlocked(kBulkIn));
    m_bus->Unplug("cam0");

    ASSERT_TRUE(m_event.Wait(30000));
    EXPECT_FALSE(GetOverlappedResult(m_stream, overlapped, &bytes, false, &error));
    EXPECT_EQ(error, kErrorDeviceNotConnected);
    EXPECT_NE(usbtest::DriverStatus(header.data()), 0u);

    auto control = usbtest::ControlRequest(0xC0, 0xB5, 0, 0);
    EXPECT_FALSE(DeviceIoControl(m_sync, kIoctlControlTransfer, control.data(), 102, control.data(),
                                 102, &bytes, nullptr, &error));
    EXPECT_EQ(error, kErrorDeviceNotConnected);
    EXPECT_FALSE(DeviceHandle::Open(m_path, false).IsValid());
}

}  // namespace
}  // namespace quorix::platform::usb
