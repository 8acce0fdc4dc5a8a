// Byte layouts the transport puts on the wire: the driver's request header, the camera's frame
// header and the command block of command-mode transfers, and the sizes those transfers round to.

#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "transport/command_block.h"
#include "transport/frame_record.h"
#include "transport/transfer_header.h"

namespace quorix {
namespace {

// A field written to the wrong offset or in host order would send the driver a different request.
TEST(TransferHeaderTest, FieldsLandAtTheirOffsetsLittleEndian) {
    TransferHeader header;
    header.requestType = 0xC0;
    header.request = 0xD1;
    header.value = 0x1234;
    header.index = 0x5678;
    header.length = 102;
    header.timeout = 3;
    header.endpointAddress = 0x81;
    header.driverStatus = 0xA1A2A3A4;
    header.busStatus = 0xB1B2B3B4;
    header.bufferOffset = 38;
    header.bufferLength = 0x01020304;
    std::array<uint8_t, 38> bytes{};
    bytes.fill(0xEE);
    WriteTransferHeader(header, bytes.data());

    const std::array<uint8_t, 38> expected = {0xC0, 0xD1,              // type, code
                                              0x34, 0x12, 0x78, 0x56,  // value, index
                                              102,  0,                 // length
                                              3,    0,    0,    0,     // timeout
                                              0,                       // reserved
                                              0x81,                    // endpoint at 13
                                              0xA4, 0xA3, 0xA2, 0xA1,  // driver status at 14
                                              0xB4, 0xB3, 0xB2, 0xB1,  // bus status at 18
                                              0,    0,    0,    0,
                                              0,    0,    0,    0,  // isochronous offset and length
                                              38,   0,    0,    0,  // buffer offset at 30
                                              0x04, 0x03, 0x02, 0x01};  // buffer length at 34
    EXPECT_EQ(bytes, expected);

    const TransferHeader back = ReadTransferHeader(bytes.data());
    EXPECT_EQ(+back.driverStatus, 0xA1A2A3A4u);
    EXPECT_EQ(+back.busStatus, 0xB1B2B3B4u);
    EXPECT_EQ(+back.bufferLength, 0x01020304u);
    EXPECT_EQ(back.endpointAddress, 0x81);
}

// The engine takes the frame size, the frame number and the four header words from these offsets.
TEST(FrameRecordTest, HeaderWordsAreReadFromTheCamerasOffsets) {
    FrameRecord record;
    for (size_t i = 0; i < sizeof(record.header); ++i)
        record.header[i] = static_cast<uint8_t>(i);
    // Offset n holds n, n+1, n+2, n+3: little-endian words 0x(n+3)(n+2)(n+1)(n).
    EXPECT_EQ(record.ByteCount(), 0x13121110u);
    EXPECT_EQ(record.WordA(), 0x1F1E1D1Cu);
    EXPECT_EQ(record.HeaderFrameNumber(), 0x23222120u);
    EXPECT_EQ(record.WordC(), 0x2B2A2928u);
    EXPECT_EQ(record.WordD(), 0x2F2E2D2Cu);
}

TEST(CommandBlockTest, ReadAndWriteBlocksCarryMagicVersionAddressAndCount) {
    const auto read = EncodeCommandBlock(CommandDirection::kRead, 0x1122334455667788ull, 0x2000);
    const std::array<uint8_t, 32> expectedRead = {
        'Q',  'U',  '3',  'R',                           // magic
        2,    0,    0,    0,                             // version
        0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11,  // address
        0x00, 0x20, 0x00, 0x00,                          // byte count
        0,    0,    0,    0,    0,    0,    0,    0,    0, 0, 0, 0};
    EXPECT_EQ(read, expectedRead);

    const auto write = EncodeCommandBlock(CommandDirection::kWrite, 0, 0xFFFFF000);
    const std::array<uint8_t, 32> expectedWrite = {
        'Q',  'U',  '3',  'W',  2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
        0x00, 0xF0, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(write, expectedWrite);
}

// Memory transfers cover the count's whole 4096-byte blocks plus one more block; frame reads the
// count's whole 16384-byte units plus one more. A wrong rounding under-sizes the transfer (the
// camera's data then stalls) or lets the transfer run past the caller's buffer.
TEST(CommandBlockTest, TransferSizesRoundPastTheCount) {
    struct Case {
        uint32_t count;
        uint64_t memory;
        uint64_t frame;
    };
    const std::vector<Case> cases = {
        {0, 4096, 16384},
        {1, 4096, 16384},
        {100, 4096, 16384},
        {4095, 4096, 16384},
        {4096, 8192, 16384},
        {4097, 8192, 16384},
        {16383, 16384, 16384},
        {16384, 20480, 32768},
        {0x180000, 0x181000, 0x184000},
        {0xFFFFEFFF, 0xFFFFF000, 0x100000000ull},
        {0xFFFFFFFF, 0x100000000ull, 0x100000000ull},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CommandTransferSize(c.count), c.memory) << c.count;
        EXPECT_EQ(FrameCommandTransferSize(c.count), c.frame) << c.count;
    }
}

}  // namespace
}  // namespace quorix
