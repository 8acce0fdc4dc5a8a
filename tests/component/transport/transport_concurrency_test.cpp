// The controller used from several threads: an abort from another thread ends a pending receive,
// and FPGA register reads of several threads never mix their address and data transfers.

#include <gtest/gtest.h>

#include <future>
#include <latch>
#include <thread>
#include <vector>

#include "controller_fixture.h"
#include "platform/clock.h"

namespace quorix {
namespace {

using test::TransportControllerTest;

constexpr auto kHangLimit = std::chrono::seconds(30);

using TransportConcurrencyTest = TransportControllerTest;

// Stopping capture aborts the stream's receive from the application thread. The receive waits
// without a time limit here, so only the abort can end it.
TEST_F(TransportConcurrencyTest, AnAbortFromAnotherThreadEndsAPendingReceive) {
    ASSERT_EQ(m_cam->OpenStreamHandle(), 1);
    std::vector<uint8_t> raw(0x1000);
    FrameRecord record;
    record.destination = raw.data();
    record.capacity = 0x1000;
    WriteLe32(record.header + 16, 0x1000);  // no frame was requested: nothing will come

    const size_t startedBefore = m_provider->BulkStarted();
    auto receive = std::async(std::launch::async,
                              [&] { return m_cam->ReadFrameData(&record, kInfiniteTimeout); });
    // Abort once the receive has reached the camera: an abort before that finds nothing to end.
    const auto deadline = std::chrono::steady_clock::now() + kHangLimit;
    while (m_provider->BulkStarted() == startedBefore &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_GT(m_provider->BulkStarted(), startedBefore);
    EXPECT_EQ(m_cam->AbortInPipe(), 1);
    ASSERT_EQ(receive.wait_for(kHangLimit), std::future_status::ready);
    EXPECT_EQ(receive.get(), 0);
    EXPECT_GE(Camera().Counters().cancelledTransfers, 1u);
    const std::vector<test::BulkRecord> bulk = BulkOn(0x81);
    ASSERT_EQ(bulk.size(), 1u);
    EXPECT_EQ(bulk[0].result, platform::usb::TransferResult::kCancelled);
}

// Closing the stream while another thread receives on it must neither crash nor leave the
// receive hanging once it is aborted.
TEST_F(TransportConcurrencyTest, ClosingTheStreamDuringAReceiveIsSafe) {
    ASSERT_EQ(m_cam->OpenStreamHandle(), 1);
    std::vector<uint8_t> raw(64);
    FrameRecord record;
    record.destination = raw.data();
    record.capacity = 64;
    WriteLe32(record.header + 16, 64);
    const size_t startedBefore = m_provider->BulkStarted();
    auto receive = std::async(std::launch::async,
                              [&] { return m_cam->ReadFrameData(&record, kInfiniteTimeout); });
    const auto deadline = std::chrono::steady_clock::now() + kHangLimit;
    while (m_provider->BulkStarted() == startedBefore &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_GT(m_provider->BulkStarted(), startedBefore);
    EXPECT_EQ(m_cam->CloseStreamHandle(), 1);
    // The receiving thread still holds the old handle; a new stream reaches the same endpoint.
    ASSERT_EQ(m_cam->OpenStreamHandle(), 1);
    EXPECT_EQ(m_cam->AbortInPipe(), 1);
    ASSERT_EQ(receive.wait_for(kHangLimit), std::future_status::ready);
    EXPECT_EQ(receive.get(), 0);
}

// The FPGA answers from the register its last address write named: without the controller's
// register lock, one thread's address write lands between another's address and read.
TEST_F(TransportConcurrencyTest, FpgaRegisterReadsOfSeveralThreadsDoNotMix) {
    ASSERT_EQ(m_cam->WriteFpgaRegister(7, 0xA5), 1);
    const uint8_t versionLow = Camera().Config().fpgaVersion & 0xFF;
    ASSERT_NE(versionLow, 0xA5);
    // A firmware that is slow to answer leaves time between a reader's address write and its
    // data read for the other readers' requests.
    m_provider->DelayControlRequests(std::chrono::microseconds(200));
    std::latch start(4);
    auto reader = [&](uint8_t reg, uint8_t expected) {
        start.arrive_and_wait();
        int wrong = 0;
        for (int i = 0; i < 100; ++i) {
            uint8_t value = 0;
            if (!m_cam->ReadFpgaRegister(reg, &value) || value != expected)
                ++wrong;
        }
        return wrong;
    };
    std::vector<std::future<int>> readers;
    readers.reserve(4);
    for (int i = 0; i < 4; ++i)
        readers.push_back(std::async(std::launch::async, reader, i % 2 == 0 ? 7 : 0x10,
                                     i % 2 == 0 ? 0xA5 : versionLow));
    for (auto& result : readers) {
        ASSERT_EQ(result.wait_for(kHangLimit), std::future_status::ready);
        EXPECT_EQ(result.get(), 0);
    }
}

}  // namespace
}  // namespace quorix
