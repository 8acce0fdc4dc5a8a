#include "platform/usb/device_path.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/usb/transfer_header.h"
#include "request_buffers.h"

namespace quorix::platform::usb {
namespace {

uint16_t ParseHexAt(const std::string& path, size_t position) {
    return static_cast<uint16_t>(std::strtoul(path.substr(position, 4).c_str(), nullptr, 16));
}

// The transport reads the vendor and product ID at fixed characters of the path; a path built
// any other way would give every camera the wrong camera ID.
TEST(DevicePath, VendorAndProductIdStandWhereTheTransportParsesThem) {
    const LinkDescriptor camera{0x04B4, 0x31C0, "7&1a2b3c&0&1", kCameraInterfaceGuid};
    const std::string path = FormatDevicePath(camera);
    EXPECT_EQ(path,
              "\\\\?\\usb#vid_04b4&pid_31c0#7&1a2b3c&0&1#{5d1b7c2e-4a90-4f6b-8e13-9c07a2f4d6b1}");
    EXPECT_EQ(ParseHexAt(path, 12), 0x04B4);
    EXPECT_EQ(ParseHexAt(path, 21), 0x31C0);
}

TEST(DevicePath, SmallIdsKeepFourDigitsAndHexIsLowerCase) {
    const Guid other = {
        0xABCDEF01, 0x0002, 0xFEDC, {0x00, 0x01, 0xA0, 0xB0, 0xC0, 0xD0, 0xE0, 0xFF}};
    const std::string path = FormatDevicePath({0x0001, 0x00AF, "x", other});
    EXPECT_EQ(path, "\\\\?\\usb#vid_0001&pid_00af#x#{abcdef01-0002-fedc-0001-a0b0c0d0e0ff}");
    EXPECT_EQ(ParseHexAt(path, 12), 0x0001);
    EXPECT_EQ(ParseHexAt(path, 21), 0x00AF);
}

// A header decoded at the wrong offsets sends the vendor request to the wrong register.
TEST(TransferHeader, FieldsSitAtTheirWireOffsetsLittleEndian) {
    uint8_t bytes[38];
    for (int i = 0; i < 38; ++i)
        bytes[i] = static_cast<uint8_t>(0x10 + i);
    const TransferHeader header = ReadTransferHeader(bytes);
    EXPECT_EQ(header.requestType, 0x10);
    EXPECT_EQ(header.request, 0x11);
    EXPECT_EQ(header.value, 0x1312);
    EXPECT_EQ(header.index, 0x1514);
    EXPECT_EQ(header.length, 0x1716);
    EXPECT_EQ(header.timeout, 0x1B1A1918u);
    EXPECT_EQ(header.reserved, 0x1C);
    EXPECT_EQ(header.endpointAddress, 0x1D);
    EXPECT_EQ(header.driverStatus, 0x21201F1Eu);
    EXPECT_EQ(header.busStatus, 0x25242322u);
    EXPECT_EQ(header.isoPacketOffset, 0x29282726u);
    EXPECT_EQ(header.isoPacketLength, 0x2D2C2B2Au);
    EXPECT_EQ(header.bufferOffset, 0x31302F2Eu);
    EXPECT_EQ(header.bufferLength, 0x35343332u);

    uint8_t written[38] = {};
    WriteTransferHeader(header, written);
    EXPECT_EQ(0, std::memcmp(bytes, written, sizeof bytes));
}

TEST(TransferHeader, StatusWritesTouchOnlyTheTwoStatusWords) {
    auto buffer = usbtest::ControlRequest(0xC0, 0xB5, 0x1234, 0x5678);
    const auto before = buffer;
    WriteTransferStatus(buffer.data(), 0xC0000001, 0xC0000004);
    EXPECT_EQ(usbtest::DriverStatus(buffer.data()), 0xC0000001u);
    EXPECT_EQ(usbtest::BusStatus(buffer.data()), 0xC0000004u);
    for (size_t i = 0; i < buffer.size(); ++i)
        if (i < 14 || i >= 22) {
            EXPECT_EQ(buffer[i], before[i]) << "byte " << i;
        }
}

}  // namespace
}  // namespace quorix::platform::usb
