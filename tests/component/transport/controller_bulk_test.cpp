// The controller's bulk side against the emulated camera: frame headers and frame data on 0x81,
// command-mode memory and frame transfers with their command blocks on 0x01. The bulk transfers
// are checked as the camera's link saw them.

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <future>
#include <memory>
#include <vector>

#include "controller_fixture.h"
#include "platform/byte_order.h"

namespace quorix {
namespace {

using test::BulkRecord;
using test::ScopedTimeScale;
using test::TransportControllerTest;

// The 32-byte command block as the camera must see it: magic, 2, 64-bit address, 32-bit count.
void ExpectCommandBlock(const BulkRecord& record, const char* magic, uint64_t address,
                        uint32_t count) {
    ASSERT_EQ(record.endpoint, 0x01);
    ASSERT_EQ(record.length, 32u);
    ASSERT_EQ(record.sent.size(), 32u);
    std::vector<uint8_t> expected(32, 0);
    std::memcpy(expected.data(), magic, 4);
    expected[4] = 2;
    for (int i = 0; i < 8; ++i)
        expected[8 + i] = static_cast<uint8_t>(address >> (8 * i));
    for (int i = 0; i < 4; ++i)
        expected[16 + i] = static_cast<uint8_t>(count >> (8 * i));
    EXPECT_EQ(record.sent, expected);
}

std::vector<uint8_t> Pattern(size_t size, uint8_t seed) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>((i * 7 + seed) ^ (i >> 9));
    return bytes;
}

// Memory moves in whole 4096-byte blocks, one more than the count's whole blocks: a 100-byte
// write sends 4096 bytes, a 4096-byte read asks for 8192.
TEST_F(TransportControllerTest, CommandModeTransfersRoundUpPastTheCount) {
    const uint64_t address = 0x1'2345'0000ull;
    std::vector<uint8_t> source = Pattern(4096, 1);
    ASSERT_EQ(m_cam->WriteMemory(address, source.data(), 100, 4096), 1);
    std::vector<uint8_t> destination(8192, 0xEE);
    ASSERT_EQ(m_cam->ReadMemory(address, destination.data(), 4096, 8192), 1);
    std::vector<uint8_t> small(4096, 0xEE);
    ASSERT_EQ(m_cam->ReadMemory(address, small.data(), 100, 4096), 1);

    const std::vector<BulkRecord> bulk = m_provider->Bulk();
    ASSERT_EQ(bulk.size(), 6u);
    ExpectCommandBlock(bulk[0], "QU3W", address, 4096);
    EXPECT_EQ(bulk[1].endpoint, 0x01);
    EXPECT_EQ(bulk[1].length, 4096u);
    ExpectCommandBlock(bulk[2], "QU3R", address, 8192);
    EXPECT_EQ(bulk[3].endpoint, 0x81);
    EXPECT_EQ(bulk[3].length, 8192u);
    EXPECT_EQ(bulk[3].transferred, 8192u);
    ExpectCommandBlock(bulk[4], "QU3R", address, 4096);
    EXPECT_EQ(bulk[5].length, 4096u);

    // The whole 4096 bytes of the source were written, and read back at the right place.
    for (size_t i = 0; i < 4096; ++i) {
        ASSERT_EQ(Camera().MemoryByte(address + i), source[i]) << i;
        ASSERT_EQ(destination[i], source[i]) << i;
        ASSERT_EQ(small[i], source[i]) << i;
    }
    EXPECT_EQ(Camera().Counters().commandBlocks, 3u);
}

// Chunks of at most 16 MiB, each with its own block at the advanced address.
TEST_F(TransportControllerTest, LargeMemoryReadsAreSplitIntoSixteenMebibyteCommands) {
    const uint32_t count = 0x1000000 + 1;  // rounds to 0x1001000
    std::vector<uint8_t> destination(0x1001000);
    ASSERT_EQ(m_cam->ReadMemory(0x40, destination.data(), count, 0x1001000), 1);
    const std::vector<BulkRecord> bulk = m_provider->Bulk();
    ASSERT_EQ(bulk.size(), 4u);
    ExpectCommandBlock(bulk[0], "QU3R", 0x40, 0x1000000);
    EXPECT_EQ(bulk[1].length, 0x1000000u);
    ExpectCommandBlock(bulk[2], "QU3R", 0x40 + 0x1000000, 0x1000);
    EXPECT_EQ(bulk[3].length, 0x1000u);
}

// The rounded size must fit the caller's buffer: otherwise nothing is sent, nothing received and
// not a byte of the buffer changes.
TEST_F(TransportControllerTest, CommandModeTransfersThatWouldOverrunTheBufferAreRefused) {
    std::vector<uint8_t> buffer(4096, 0xEE);
    EXPECT_EQ(m_cam->ReadMemory(0, buffer.data(), 4096, 4096), 0);
    EXPECT_EQ(m_cam->WriteMemory(0, buffer.data(), 4096, 4096), 0);
    EXPECT_EQ(m_cam->ReadMemory(0, buffer.data(), 0xFFFFF000, 0xFFFFFFFF), 0);
    EXPECT_EQ(m_cam->ReadMemory(0, nullptr, 100, 4096), 0);

    FrameRecord record;
    record.destination = buffer.data();
    record.capacity = 4096;
    uint32_t frameCount = 100;  // a command frame read of 100 bytes moves 16384
    EXPECT_EQ(m_cam->ReadFrameByCommand(&record, &frameCount, 3000), 0);
    EXPECT_EQ(frameCount, 100u);

    EXPECT_TRUE(m_provider->Bulk().empty());
    EXPECT_EQ(Camera().Counters().commandBlocks, 0u);
    for (uint8_t b : buffer)
        ASSERT_EQ(b, 0xEE);
}

TEST_F(TransportControllerTest, CommandFrameReadsAskForWholeUnitsPastTheCount) {
    std::vector<uint8_t> source = Pattern(0x504000, 9);
    ASSERT_EQ(m_cam->WriteMemory(0, source.data(), 0x504000 - 1, 0x504000), 1);
    m_provider->ClearBulk();

    std::vector<uint8_t> frame(32768, 0xEE);
    FrameRecord record;
    record.destination = frame.data();
    record.capacity = 32768;
    uint32_t count = 16384;
    ASSERT_EQ(m_cam->ReadFrameByCommand(&record, &count, 3000), 1);
    EXPECT_EQ(count, 32768u);
    std::vector<BulkRecord> bulk = m_provider->Bulk();
    ASSERT_EQ(bulk.size(), 2u);
    ExpectCommandBlock(bulk[0], "QU3R", 0, 32768);
    EXPECT_EQ(bulk[1].length, 32768u);
    EXPECT_EQ(std::memcmp(frame.data(), source.data(), 32768), 0);

    // Above 4 MiB the data comes in 4 MiB receives after the one command block.
    m_provider->ClearBulk();
    std::vector<uint8_t> large(0x504000);
    record.destination = large.data();
    record.capacity = 0x504000;
    count = 0x500000;
    ASSERT_EQ(m_cam->ReadFrameByCommand(&record, &count, 3000), 1);
    EXPECT_EQ(count, 0x504000u);
    bulk = m_provider->Bulk();
    ASSERT_EQ(bulk.size(), 3u);
    ExpectCommandBlock(bulk[0], "QU3R", 0, 0x504000);
    EXPECT_EQ(bulk[1].length, 0x400000u);
    EXPECT_EQ(bulk[2].length, 0x104000u);
    EXPECT_EQ(large, source);
}

class TransportFrameTest : public TransportControllerTest {
protected:
    // Programs the FPGA's frame geometry (8-bit samples), as the engine does before capture.
    void SetGeometry(uint16_t width, uint16_t height) {
        ASSERT_EQ(m_cam->WriteFpgaRegister(0x44, width & 0xFF), 1);
        ASSERT_EQ(m_cam->WriteFpgaRegister(0x45, width >> 8), 1);
        ASSERT_EQ(m_cam->WriteFpgaRegister(0x40, height & 0xFF), 1);
        ASSERT_EQ(m_cam->WriteFpgaRegister(0x41, height >> 8), 1);
        ASSERT_EQ(m_cam->WriteFpgaRegister(0x3C, 0), 1);
    }
    std::vector<uint8_t> m_raw = std::vector<uint8_t>(0x300000);
    FrameRecord m_record = [this] {
        FrameRecord record;
        record.destination = m_raw.data();
        record.capacity = static_cast<uint32_t>(m_raw.size());
        return record;
    }();
};

TEST_F(TransportFrameTest, AFrameArrivesAsHeaderThenChunksOfHalfAMebibyte) {
    SetGeometry(1024, 1536);  // 0x180000 bytes
    ASSERT_EQ(m_cam->OpenStreamHandle(), 1);
    m_provider->ClearBulk();
    ASSERT_EQ(m_cam->ReadFrameHeader(&m_record), 1);
    EXPECT_EQ(std::memcmp(m_record.header, "QXFH", 4), 0);
    EXPECT_EQ(m_record.ByteCount(), 0x180000u);
    EXPECT_EQ(m_record.frameNumber, ReadLe32(m_record.header + 32));
    EXPECT_GE(m_record.frameNumber, 1u);
    ASSERT_EQ(m_cam->ReadFrameData(&m_record, 3000), 1);

    const std::vector<BulkRecord> bulk = BulkOn(0x81);
    ASSERT_EQ(bulk.size(), 4u);
    EXPECT_EQ(bulk[0].length, 64u);
    for (size_t i = 1; i < 4; ++i) {
        EXPECT_EQ(bulk[i].length, 0x80000u);
        EXPECT_EQ(bulk[i].transferred, 0x80000u);
    }
    EXPECT_EQ(Camera().Counters().framesSent, 1u);
    EXPECT_EQ(Requests().back().setup.request, 0xC2);
}

// 0x180001 bytes: three whole chunks and one of a single byte, all landing in place. The bytes
// come from the camera's memory through a command-mode read queued on 0x81.
TEST_F(TransportFrameTest, ARemainderComesAsOneLastChunk) {
    const uint32_t size = 0x180001;
    std::vector<uint8_t> source = Pattern(CommandTransferSize(size), 5);
    ASSERT_EQ(m_cam->WriteMemory(0x9000, source.data(), size, CommandTransferSize(size)), 1);
    CFx3Api::DeviceHandle handle;
    ASSERT_EQ(m_cam->OpenDevice(&handle, 0, true), 1);
    const auto block = EncodeCommandBlock(CommandDirection::kRead, 0x9000, size);
    uint32_t sent = 0;
    ASSERT_EQ(m_cam->Send(handle, block.data(), 32, 0x01, &sent), 1);
    m_provider->ClearBulk();

    WriteLe32(m_record.header + 16, size);
    m_record.capacity = size;
    ASSERT_EQ(m_cam->ReadFrameData(&m_record, 3000), 1);
    const std::vector<BulkRecord> bulk = BulkOn(0x81);
    ASSERT_EQ(bulk.size(), 4u);
    EXPECT_EQ(bulk[0].length, 0x80000u);
    EXPECT_EQ(bulk[1].length, 0x80000u);
    EXPECT_EQ(bulk[2].length, 0x80000u);
    EXPECT_EQ(bulk[3].length, 1u);
    EXPECT_EQ(std::memcmp(m_raw.data(), source.data(), size), 0);
}

TEST_F(TransportFrameTest, AFrameLargerThanTheDestinationIsNotReceived) {
    SetGeometry(1024, 1536);
    ASSERT_EQ(m_cam->ReadFrameHeader(&m_record), 1);
    m_record.capacity = 0x180000 - 1;
    m_provider->ClearBulk();
    EXPECT_EQ(m_cam->ReadFrameData(&m_record, 3000), 0);
    EXPECT_TRUE(BulkOn(0x81).empty());
}

// The camera ends a frame early with a short packet while its header announced the full size:
// the tail of the buffer still holds an older frame, so the frame must fail.
TEST_F(TransportFrameTest, AShortChunkFailsTheFrame) {
    SetGeometry(1024, 1536);
    ASSERT_EQ(m_cam->OpenStreamHandle(), 1);
    Camera().Faults().ShortenFrameData(1, 100);
    ASSERT_EQ(m_cam->ReadFrameHeader(&m_record), 1);
    EXPECT_EQ(m_record.ByteCount(), 0x180000u);
    EXPECT_EQ(m_cam->ReadFrameData(&m_record, 3000), 0);
    const std::vector<BulkRecord> bulk = BulkOn(0x81);
    ASSERT_FALSE(bulk.empty());
    EXPECT_EQ(bulk.back().transferred, 0x80000u - 100);
    EXPECT_EQ(Camera().Counters().shortFrames, 1u);
}

// A camera that never answers gets the first frame request and one more after each of the 15
// failed header receives, each failure followed by a transfer reset pulse of the FPGA.
TEST_F(TransportFrameTest, ASilentCameraGetsSixteenRequestsAndFifteenResetPulses) {
    ScopedTimeScale fast(50);
    Camera().Faults().DropFrameHeaders(1000);
    const sim::CameraCounters before = Camera().Counters();
    EXPECT_EQ(m_cam->ReadFrameHeader(&m_record), 0);
    const sim::CameraCounters after = Camera().Counters();
    EXPECT_EQ(after.frameRequests - before.frameRequests, 16u);
    EXPECT_EQ(after.transferResets - before.transferResets, 15u);
    std::vector<uint8_t> pulses;
    for (int i = 0; i < 15; ++i) {
        pulses.push_back(1);
        pulses.push_back(0);
    }
    EXPECT_EQ(Camera().Log().WrittenValues(sim::RegisterSpace::kFpga, 0x6C), pulses);
    // Each failed receive was aborted, not left pending.
    EXPECT_EQ(Camera().Counters().cancelledTransfers - before.cancelledTransfers, 15u);

    // The stream handle opened for the header was closed again on failure: a new frame
    // request without a handle fails.
    EXPECT_EQ(m_cam->RequestFrame(), 0);
}

TEST_F(TransportFrameTest, AHeaderThatComesOnTheThirdRequestIsTaken) {
    ScopedTimeScale fast(50);
    SetGeometry(64, 8);
    Camera().Faults().DropFrameHeaders(2);
    const sim::CameraCounters before = Camera().Counters();
    ASSERT_EQ(m_cam->ReadFrameHeader(&m_record), 1);
    EXPECT_EQ(m_record.ByteCount(), 64u * 8u);
    const sim::CameraCounters after = Camera().Counters();
    EXPECT_EQ(after.frameRequests - before.frameRequests, 3u);
    EXPECT_EQ(after.transferResets - before.transferResets, 2u);
    ASSERT_EQ(m_cam->ReadFrameData(&m_record, 3000), 1);
}

// Endpoint 0x83 carries nothing on this camera: the receive runs into its 5000 ms limit, is
// aborted, and the operation fails.
TEST_F(TransportFrameTest, AnAuxiliaryReadWithoutDataTimesOut) {
    ScopedTimeScale fast(100);
    ASSERT_EQ(m_cam->OpenStreamHandle(), 1);
    m_record.requestedBytes = 4096;
    EXPECT_EQ(m_cam->ReadAuxEndpoint(&m_record), 0);
    const std::vector<BulkRecord> bulk = BulkOn(0x83);
    ASSERT_EQ(bulk.size(), 1u);
    EXPECT_EQ(bulk[0].length, 4096u);
    EXPECT_EQ(bulk[0].result, platform::usb::TransferResult::kCancelled);
    EXPECT_EQ(Requests().back().setup.request, 0xC2);

    m_record.requestedBytes = m_record.capacity + 1;
    EXPECT_EQ(m_cam->ReadAuxEndpoint(&m_record), 0);
    EXPECT_EQ(BulkOn(0x83).size(), 1u);
}

// A buffered transfer goes through the transfer buffer; what comes back lands in the caller's.
// The buffer is sized by the transfers (header and data), not taken at its 64 MiB limit at open.
TEST_F(TransportControllerTest, BufferedTransfersCopyTheReplyBack) {
    EXPECT_EQ(m_cam->TransferBufferCapacity(), 0u);
    std::vector<uint8_t> source = Pattern(4096, 3);
    ASSERT_EQ(m_cam->WriteMemory(0x100, source.data(), 4095, 4096), 1);
    CFx3Api::DeviceHandle handle;
    ASSERT_EQ(m_cam->OpenDevice(&handle, 0, true), 1);
    auto block = EncodeCommandBlock(CommandDirection::kRead, 0x100, 4096);
    uint32_t count = 0;
    ASSERT_EQ(m_cam->BufferedTransfer(handle, block.data(), 32, 0x01, &count), 1);
    EXPECT_EQ(count, 32u);
    std::vector<uint8_t> destination(4096, 0xEE);
    ASSERT_EQ(m_cam->BufferedTransfer(handle, destination.data(), 4096, 0x81, &count), 1);
    EXPECT_EQ(count, 4096u);
    EXPECT_EQ(destination, source);
    EXPECT_EQ(m_cam->TransferBufferCapacity(), 38u + 4096u);
    EXPECT_EQ(m_cam->BufferedTransfer(handle, destination.data(), 0x4000001, 0x81, &count), 0);
}

// A buffered receive that gets nothing is aborted after its 3000 ms and waited for, so the
// transfer buffer is free again when the call returns.
TEST_F(TransportControllerTest, ABufferedReceiveWithoutDataIsAbortedAfterItsLimit) {
    ScopedTimeScale fast(100);
    CFx3Api::DeviceHandle handle;
    ASSERT_EQ(m_cam->OpenDevice(&handle, 0, true), 1);
    std::vector<uint8_t> destination(64, 0xEE);
    uint32_t count = 99;
    auto receive = std::async(std::launch::async, [&] {
        return m_cam->BufferedTransfer(handle, destination.data(), 64, 0x81, &count);
    });
    ASSERT_EQ(receive.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    EXPECT_EQ(receive.get(), 0);
    EXPECT_EQ(count, 0u);
    const std::vector<BulkRecord> bulk = BulkOn(0x81);
    ASSERT_EQ(bulk.size(), 1u);
    EXPECT_EQ(bulk[0].result, platform::usb::TransferResult::kCancelled);
}

// A transfer the driver refuses outright (endpoint 0 is no bulk endpoint) is not pending: the
// receive fails at once instead of waiting for an abort that has nothing to end.
TEST_F(TransportControllerTest, ATransferRefusedAtSubmissionFailsWithoutWaiting) {
    CFx3Api::DeviceHandle handle;
    ASSERT_EQ(m_cam->OpenDevice(&handle, 0, true), 1);
    std::vector<uint8_t> destination(64);
    uint32_t count = 99;
    auto receive = std::async(std::launch::async, [&] {
        return m_cam->Receive(handle, destination.data(), 64, 0x00, &count, 1000);
    });
    ASSERT_EQ(receive.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    EXPECT_EQ(receive.get(), 0);
    EXPECT_EQ(count, 0u);
    EXPECT_NE(m_cam->LastSubmitError(), 0u);
    EXPECT_NE(m_cam->LastSubmitError(), 997u);
}

}  // namespace
}  // namespace quorix
