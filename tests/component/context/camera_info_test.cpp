// What an application learns about the open camera: the camera info record with the IMX252's
// size and limits, the USB controller's device information block, and the camera board's FPGA
// registers, each read from the emulated camera that is open and from no other.

#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <memory>
#include <vector>

#include "context_test_support.h"

namespace quorix {
namespace {

using test::ContextCameraTest;

constexpr uint8_t kUntouched = 0xA5;

// The record's fields as the header lays them out, read back from raw bytes.
int32_t Int32At(const uint8_t* record, size_t offset) {
    return static_cast<int32_t>(record[offset] | (record[offset + 1] << 8) |
                                (record[offset + 2] << 16) |
                                (static_cast<uint32_t>(record[offset + 3]) << 24));
}
double DoubleAt(const uint8_t* record, size_t offset) {
    uint64_t bits = 0;
    for (size_t i = 0; i < 8; ++i) {
        bits |= static_cast<uint64_t>(record[offset + i]) << (8 * i);
    }
    return std::bit_cast<double>(bits);
}
void SetSize(uint8_t* record, uint32_t size) {
    for (size_t i = 0; i < 4; ++i) {
        record[i] = static_cast<uint8_t>(size >> (8 * i));
    }
}

// The IMX252 head's limits: 2048 x 1536 pixels; gain register 0..480 (0.1 dB steps, 48 dB); no
// colour gains; exposure 1..20000 units of 100 us (0.1 ms to 2 s); no exposure in seconds.
void ExpectImx252Limits(const uint8_t* record) {
    EXPECT_EQ(Int32At(record, 4), 2048);
    EXPECT_EQ(Int32At(record, 8), 1536);
    EXPECT_EQ(Int32At(record, 12), 0);
    EXPECT_EQ(Int32At(record, 16), 480);
    EXPECT_EQ(Int32At(record, 20), 0);
    EXPECT_EQ(Int32At(record, 24), 0);
    EXPECT_EQ(Int32At(record, 28), 1);
    EXPECT_EQ(Int32At(record, 32), 20000);
}

using CameraInfo = ContextCameraTest;

// The record is as long as its size field says, and not a byte longer: a 40-byte record gets
// offsets 0-35 and nothing else, a 56-byte one also the two doubles, never the reserved word.
TEST_F(CameraInfo, RecordIsFilledUpToItsSizeAndNoFurther) {
    Attach("QX252-000701");
    const QuorixHandle handle = Initialize();
    ASSERT_EQ(ContextOf(handle).DeviceNumber(), 0);

    uint8_t record[56];
    std::memset(record, kUntouched, sizeof record);
    SetSize(record, 56);
    ASSERT_EQ(Quorix_GetCameraInfo(handle, reinterpret_cast<QuorixCameraInfo*>(record)), 1);
    EXPECT_EQ(Int32At(record, 0), 56);
    ExpectImx252Limits(record);
    for (size_t i = 36; i < 40; ++i) {
        EXPECT_EQ(record[i], kUntouched) << "reserved byte " << i;
    }
    EXPECT_EQ(DoubleAt(record, 40), 0.0);
    EXPECT_EQ(DoubleAt(record, 48), 0.0);

    std::memset(record, kUntouched, sizeof record);
    SetSize(record, 40);
    ASSERT_EQ(Quorix_GetCameraInfo(handle, reinterpret_cast<QuorixCameraInfo*>(record)), 1);
    EXPECT_EQ(Int32At(record, 0), 40);
    ExpectImx252Limits(record);
    for (size_t i = 36; i < 56; ++i) {
        EXPECT_EQ(record[i], kUntouched) << "byte " << i;
    }

    // A caller whose record really is that short: under the address sanitizer any write past it
    // is caught.
    for (const uint32_t size : {36u, 40u}) {
        auto shortRecord = std::make_unique<uint8_t[]>(size);
        std::memset(shortRecord.get(), kUntouched, size);
        SetSize(shortRecord.get(), size);
        ASSERT_EQ(
            Quorix_GetCameraInfo(handle, reinterpret_cast<QuorixCameraInfo*>(shortRecord.get())),
            1);
        ExpectImx252Limits(shortRecord.get());
    }
    EXPECT_EQ(Quorix_GetLastError(handle), 0u);
}

TEST_F(CameraInfo, ShortRecordAndNullAreRefused) {
    Attach("QX252-000702");
    const QuorixHandle handle = Initialize();
    uint8_t record[56];
    std::memset(record, kUntouched, sizeof record);
    SetSize(record, 35);
    EXPECT_EQ(Quorix_GetCameraInfo(handle, reinterpret_cast<QuorixCameraInfo*>(record)), 0);
    EXPECT_EQ(Quorix_GetLastError(handle), 5u);
    for (size_t i = 4; i < sizeof record; ++i) {
        EXPECT_EQ(record[i], kUntouched) << "byte " << i;
    }
    EXPECT_EQ(Quorix_GetCameraInfo(handle, nullptr), 0);
    EXPECT_EQ(Quorix_GetLastError(handle), 9u);
    EXPECT_EQ(Quorix_GetLastError(handle), 0u);
}

using DeviceInfo = ContextCameraTest;

// The block comes from the camera that is open: two cameras with different USB controller
// firmware, one with the readiness line and one without, each report their own.
TEST_F(DeviceInfo, BlockComesFromTheOpenCamera) {
    sim::CameraConfig withLine;
    withLine.serialNumber = "QX252-000801";
    withLine.firmwareVersion = 0x1305;
    withLine.gpio25Flag = 1;
    sim::CameraConfig withoutLine;
    withoutLine.serialNumber = "QX252-000802";
    withoutLine.firmwareVersion = 0x1042;
    withoutLine.gpio25Flag = 0;
    Attach(withLine);
    Attach(withoutLine);
    const QuorixHandle handle = Initialize();

    struct Expected {
        int32_t index;
        uint16_t firmware;
        uint8_t readiness;
    };
    for (const Expected& expected : {Expected{1, 0x1042, 0}, Expected{0, 0x1305, 1}}) {
        ASSERT_EQ(Quorix_SetDeviceNumber(handle, expected.index), 1);
        uint8_t block[80];
        std::memset(block, kUntouched, sizeof block);
        ASSERT_EQ(Quorix_GetDeviceInfo(handle, block, sizeof block), 1);
        const uint16_t firmware =
            static_cast<uint16_t>(block[QUORIX_DEVICE_INFO_FIRMWARE_VERSION] |
                                  (block[QUORIX_DEVICE_INFO_FIRMWARE_VERSION + 1] << 8));
        EXPECT_EQ(firmware, expected.firmware) << "camera " << expected.index;
        EXPECT_EQ(block[QUORIX_DEVICE_INFO_READINESS_LINE], expected.readiness)
            << "camera " << expected.index;
        for (size_t i = QUORIX_DEVICE_INFO_SIZE; i < sizeof block; ++i) {
            EXPECT_EQ(block[i], kUntouched) << "byte " << i << " beyond the block";
        }
    }
    EXPECT_EQ(Quorix_GetLastError(handle), 0u);
}

TEST_F(DeviceInfo, RefusesShortOrMissingBuffersAndAnUnpluggedCamera) {
    auto camera = Attach("QX252-000803");
    const QuorixHandle handle = Initialize();
    uint8_t block[QUORIX_DEVICE_INFO_SIZE];
    std::memset(block, kUntouched, sizeof block);
    EXPECT_EQ(Quorix_GetDeviceInfo(handle, block, QUORIX_DEVICE_INFO_SIZE - 1), 0);
    EXPECT_EQ(Quorix_GetLastError(handle), 5u);
    EXPECT_EQ(Quorix_GetDeviceInfo(handle, nullptr, QUORIX_DEVICE_INFO_SIZE), 0);
    EXPECT_EQ(Quorix_GetLastError(handle), 9u);

    sim::Unplug(camera);
    EXPECT_EQ(Quorix_GetDeviceInfo(handle, block, sizeof block), 0);
    EXPECT_EQ(Quorix_GetLastError(handle), 6u);
    for (const uint8_t byte : block) {
        EXPECT_EQ(byte, kUntouched);
    }
}

using FpgaRegisters = ContextCameraTest;

// The FPGA's version sits in registers 0x10 (low byte) and 0x11 (high byte). A caller sets the
// flag once before a series of reads and checks it at the end: success leaves it alone.
TEST_F(FpgaRegisters, VersionRegistersReadBackTheCamerasFpgaVersion) {
    sim::CameraConfig config;
    config.fpgaVersion = 0x0157;
    Attach(config);
    const QuorixHandle handle = Initialize();
    ASSERT_EQ(ContextOf(handle).DeviceNumber(), 0);

    int32_t ok = 7;
    EXPECT_EQ(Quorix_Fpga_ReadRegister(handle, 0x10, &ok), 0x57u);
    EXPECT_EQ(Quorix_Fpga_ReadRegister(handle, 0x11, &ok), 0x01u);
    EXPECT_EQ(ok, 7);
    EXPECT_EQ(Quorix_GetLastError(handle), 0u);
}

// Register 7 is the camera's I/O port, which reads back what was written.
TEST_F(FpgaRegisters, RegisterSevenReadsBackWhatWasWritten) {
    auto camera = Attach("QX252-000901");
    const QuorixHandle handle = Initialize();
    ASSERT_EQ(Quorix_Fpga_WriteRegister(handle, 7, 0xA5), 1);
    EXPECT_EQ(camera->FpgaRegister(7), 0xA5);
    int32_t ok = 1;
    EXPECT_EQ(Quorix_Fpga_ReadRegister(handle, 7, &ok), 0xA5u);
    EXPECT_EQ(ok, 1);
    ASSERT_EQ(Quorix_Fpga_WriteRegister(handle, 7, 0x5C), 1);
    EXPECT_EQ(Quorix_Fpga_ReadRegister(handle, 7, &ok), 0x5Cu);
    EXPECT_EQ(Quorix_GetLastError(handle), 0u);
}

TEST_F(FpgaRegisters, AccessToAnUnpluggedCameraFailsWithCodeSix) {
    auto camera = Attach("QX252-000902");
    const QuorixHandle handle = Initialize();
    sim::Unplug(camera);
    int32_t ok = 1;
    EXPECT_EQ(Quorix_Fpga_ReadRegister(handle, 0x10, &ok), 0u);
    EXPECT_EQ(ok, 0);
    EXPECT_EQ(Quorix_GetLastError(handle), 6u);
    EXPECT_EQ(Quorix_Fpga_WriteRegister(handle, 7, 1), 0);
    EXPECT_EQ(Quorix_GetLastError(handle), 6u);
    EXPECT_EQ(Quorix_GetLastError(handle), 0u);
}

}  // namespace
}  // namespace quorix
