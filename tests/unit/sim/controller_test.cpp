// The emulated USB controller and its sensor bus, driven through the UsbLink interface with
// hand-built requests, as the SDK's controller sends them.

#include <gtest/gtest.h>

#include <string>

#include "platform/clock.h"
#include "sim/emulator.h"
#include "sim_test_host.h"

namespace quorix::sim::test {
namespace {

uint16_t Le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

class ScopedTimeScale {
public:
    explicit ScopedTimeScale(uint32_t factor) { platform::SetTimeScale(factor); }
    ~ScopedTimeScale() { platform::SetTimeScale(1); }
};

// A device info block that the host cannot read exactly 64 bytes of, or with the fields in the
// wrong place, makes the host skip or botch its readiness wait.
TEST(EmulatorController, DeviceInfoBlockCarriesFirmwareVersionAndGpioFlag) {
    CameraConfig config;
    config.firmwareVersion = 0x1234;
    config.gpio25Flag = 1;
    auto camera = CreateCamera(config);
    TestHost host(*camera);

    const ControlReply info = host.Control(kIn, 0xB0, 0, 0);
    ASSERT_EQ(info.result, TransferResult::kCompleted);
    EXPECT_EQ(info.moved, 64u);
    EXPECT_EQ(Le16(info.data.data() + 24), 0x1234);
    EXPECT_EQ(info.data[52], 1);

    config.firmwareVersion = 0x1100;
    config.gpio25Flag = 0;
    auto older = CreateCamera(config);
    TestHost olderHost(*older);
    const ControlReply olderInfo = olderHost.Control(kIn, 0xB0, 0, 0);
    EXPECT_EQ(olderInfo.moved, 64u);
    EXPECT_EQ(Le16(olderInfo.data.data() + 24), 0x1100);
    EXPECT_EQ(olderInfo.data[52], 0);

    // The second block is 64 bytes too; a smaller data stage gets only what fits.
    EXPECT_EQ(host.Control(kIn, 0xB1, 0, 0).moved, 64u);
    EXPECT_EQ(host.Control(kIn, 0xB0, 0, 0, {}, 10).moved, 10u);
}

// The readiness line, the readiness device and the FPGA's starting bits must agree, or the host
// programs a sensor that is not powered yet.
TEST(EmulatorController, ReadinessFollowsTheConfiguredDelay) {
    ScopedTimeScale fast(1000);
    CameraConfig config;
    config.readyDelayMs = 3000;
    auto camera = CreateCamera(config);
    TestHost host(*camera);

    const ControlReply early = host.Control(kIn, 0xC3, 0, 0);
    ASSERT_EQ(early.result, TransferResult::kCompleted);
    EXPECT_EQ(early.moved, 64u);
    EXPECT_EQ(early.data[0], 0);
    EXPECT_EQ(host.BusRead(0x5E, 2).value()[0], 1);
    EXPECT_EQ(host.ReadFpga(0x02).value() & 0x90, 0x90);
    // The sensor bridge does not answer before the camera is up.
    EXPECT_FALSE(host.ReadSensor(0x404).has_value());

    platform::SleepMs(3500);
    EXPECT_EQ(host.Control(kIn, 0xC3, 0, 0).data[0], 1);
    EXPECT_EQ(host.BusRead(0x5E, 2).value()[0], 0);
    EXPECT_EQ(host.ReadFpga(0x02).value() & 0x90, 0);
    EXPECT_EQ(host.ReadSensor(0x404), 0);  // the sensor's own gain until the host sets one
}

TEST(EmulatorController, CameraThatNeverBecomesReady) {
    ScopedTimeScale fast(1000);
    CameraConfig config;
    config.readyDelayMs = -1;
    auto never = CreateCamera(config);
    TestHost host(*never);
    platform::SleepMs(10000);
    EXPECT_EQ(host.Control(kIn, 0xC3, 0, 0).data[0], 0);
    EXPECT_EQ(host.BusRead(0x5E, 2).value()[0], 1);

    // The fault does the same to a camera that would be ready at once, and can be lifted.
    auto camera = CreateCamera();
    TestHost faulty(*camera);
    camera->Faults().SetNeverReady(true);
    EXPECT_EQ(faulty.Control(kIn, 0xC3, 0, 0).data[0], 0);
    camera->Faults().SetNeverReady(false);
    EXPECT_EQ(faulty.Control(kIn, 0xC3, 0, 0).data[0], 1);
}

// A host may send garbage: nothing of it may be taken as a valid request.
TEST(EmulatorController, MalformedRequestsStall) {
    auto camera = CreateCamera();
    TestHost host(*camera);
    // Unknown request code; a known code in the wrong direction; a standard (non-vendor) type.
    EXPECT_EQ(host.Control(kIn, 0x77, 0, 0).result, TransferResult::kStalled);
    EXPECT_EQ(host.Control(kOut, 0xB0, 0, 0).result, TransferResult::kStalled);
    EXPECT_EQ(host.Control(kIn, 0x30, 1, 0x40).result, TransferResult::kStalled);
    EXPECT_EQ(host.Control(0x00, 0xC2, 0, 0).result, TransferResult::kStalled);
    // Bus transfers longer than 64 bytes or than the data stage, or to absent devices.
    EXPECT_EQ(host.Control(kOut, 0x30, 65, 0x40).result, TransferResult::kStalled);
    EXPECT_EQ(host.Control(kOut, 0x30, 8, 0x40, {0x44, 0, 1}, 4).result, TransferResult::kStalled);
    EXPECT_EQ(host.Control(kIn, 0x31, 65, 0x41).result, TransferResult::kStalled);
    EXPECT_FALSE(host.BusWrite(0x22, {1, 2}));
    EXPECT_FALSE(host.BusRead(0x23, 1).has_value());
    EXPECT_EQ(host.Control(kOut, 0x30, 1, 0x1040, {0}).result, TransferResult::kStalled);
    // An FPGA write of the wrong shape, a write to a read address.
    EXPECT_FALSE(host.BusWrite(0x40, {0x44, 0x01}));
    EXPECT_FALSE(host.BusWrite(0x41, {0x44, 0x00, 0x01}));
    // A null data stage with a non-zero length is an error, not a crash.
    size_t moved = 99;
    EXPECT_EQ(camera->ControlTransfer(SetupPacket{kIn, 0xB0, 0, 0, 64}, nullptr, &moved),
              TransferResult::kError);
    EXPECT_EQ(moved, 0u);
    // None of it reached a register.
    EXPECT_EQ(camera->FpgaRegister(0x44), 0x00);  // low byte of the power-up width 2048
    EXPECT_TRUE(camera->Log().RegisterWrites().empty());
}

// The FPGA takes {reg, 0x00, value} and answers a read of 0x41 with two bytes, the value second.
TEST(EmulatorController, FpgaRegisterWriteAndReadProtocol) {
    CameraConfig config;
    config.fpgaVersion = 0x0142;
    auto camera = CreateCamera(config);
    TestHost host(*camera);

    ASSERT_TRUE(host.BusWrite(0x40, {0x07, 0x00, 0x5A}));
    ASSERT_TRUE(host.BusWrite(0x40, {0x07}));
    const auto bytes = host.BusRead(0x41, 2);
    ASSERT_TRUE(bytes.has_value());
    EXPECT_EQ((*bytes)[0], 0x00);
    EXPECT_EQ((*bytes)[1], 0x5A);

    EXPECT_EQ(host.ReadFpga(0x10), 0x42);
    EXPECT_EQ(host.ReadFpga(0x11), 0x01);
    // The version is read-only.
    EXPECT_TRUE(host.WriteFpga(0x10, 0x00));
    EXPECT_EQ(host.ReadFpga(0x10), 0x42);
    // Power-up: no frame geometry and no read-out mode until the host programs them.
    for (const uint8_t reg : {0x44, 0x45, 0x40, 0x41, 0x48, 0x4C, 0x3C})
        EXPECT_EQ(host.ReadFpga(reg), 0) << "register " << int{reg};
    // Bus idle unless the fault holds it busy.
    EXPECT_EQ(host.ReadFpga(0x02), 0);
    camera->Faults().SetBusBusyStuck(true);
    EXPECT_EQ(host.ReadFpga(0x02).value() & 0x02, 0x02);
    camera->Faults().SetBusBusyStuck(false);
    EXPECT_EQ(host.ReadFpga(0x02).value() & 0x02, 0);

    // The log holds the decoded register writes and the raw bus transfers.
    const auto writes = camera->Log().RegisterWrites(RegisterSpace::kFpga);
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[0].reg, 0x07);
    EXPECT_EQ(writes[0].value, 0x5A);
    EXPECT_EQ(writes[1].reg, 0x10);
    const auto transfers = camera->Log().BusTransfers();
    ASSERT_GE(transfers.size(), 3u);
    EXPECT_EQ(transfers[0].address, 0x40);
    EXPECT_FALSE(transfers[0].read);
    EXPECT_EQ(transfers[0].bytes, (std::vector<uint8_t>{0x07, 0x00, 0x5A}));
    EXPECT_EQ(transfers[2].address, 0x41);
    EXPECT_TRUE(transfers[2].read);
    EXPECT_EQ(transfers[2].bytes, (std::vector<uint8_t>{0x00, 0x5A}));
}

// The FPGA reloads its configuration when bit 0 of 0x81 is pulsed and reports the end in bit 1;
// the sensor bridge is unusable while 0x82 bit 0 holds it in reset.
TEST(EmulatorController, FpgaReconfigurationAndBridgeReset) {
    ScopedTimeScale fast(100);
    auto camera = CreateCamera();
    TestHost host(*camera);
    EXPECT_EQ(host.ReadFpga(0x81).value() & 0x02, 0x02);
    ASSERT_TRUE(host.WriteFpga(0x81, 1));
    ASSERT_TRUE(host.WriteFpga(0x81, 0));
    EXPECT_EQ(host.ReadFpga(0x81).value() & 0x02, 0);
    platform::SleepMs(kFpgaReloadMs + 50);
    EXPECT_EQ(host.ReadFpga(0x81).value() & 0x02, 0x02);
    EXPECT_EQ(camera->Counters().fpgaReconfigurations, 1u);

    ASSERT_TRUE(host.WriteFpga(0x82, 1));
    EXPECT_FALSE(host.WriteSensor(0x404, 10));
    ASSERT_TRUE(host.WriteFpga(0x82, 0));
    EXPECT_TRUE(host.WriteSensor(0x404, 10));
    EXPECT_EQ(camera->Counters().bridgeResets, 1u);
}

// Sensor registers: 16-bit address high byte first, then the value; a read sets the address and
// reads one byte back. Every write is logged with its address.
TEST(EmulatorController, SensorRegistersThroughTheBridge) {
    auto camera = CreateCamera();
    TestHost host(*camera);
    ASSERT_TRUE(host.BusWrite(72, {0x04, 0x04, 0xE0}));
    EXPECT_EQ(host.ReadSensor(0x404), 0xE0);
    EXPECT_EQ(camera->SensorRegister(0x404), 0xE0);
    // The bridge takes no transfer until the FPGA's status has reported the last one busy once.
    EXPECT_FALSE(host.BusWrite(72, {0x05, 0x14, 0x00, 0x04}));
    EXPECT_EQ(camera->Counters().bridgeBusyRefusals, 1u);
    EXPECT_EQ(host.ReadFpga(0x02), 0x02);
    // Consecutive values go to consecutive registers.
    ASSERT_TRUE(host.BusWrite(72, {0x05, 0x14, 0x00, 0x04}));
    EXPECT_EQ(host.ReadSensor(0x514), 0x00);
    EXPECT_EQ(host.ReadSensor(0x515), 0x04);
    EXPECT_EQ(camera->Log().WrittenValues(RegisterSpace::kSensor, 0x404),
              (std::vector<uint8_t>{0xE0}));
    EXPECT_EQ(camera->Log().WrittenValues(RegisterSpace::kSensor, 0x515),
              (std::vector<uint8_t>{0x04}));
    // The auxiliary device: {reg, value}, read back through 0x5B.
    ASSERT_TRUE(host.BusWrite(0x5A, {0x21, 0x99}));
    ASSERT_TRUE(host.BusWrite(0x5A, {0x21}));
    EXPECT_EQ(host.BusRead(0x5B, 1).value()[0], 0x99);
    EXPECT_EQ(camera->AuxRegister(0x21), 0x99);
}

// The serial number text sits at 0x1040 ending with 0xFF; the user ID at 0x1080.
TEST(EmulatorController, EepromSerialNumberAndUserId) {
    CameraConfig config;
    config.serialNumber = "QX252-004711";
    config.userId = 0x3C;
    auto camera = CreateCamera(config);
    TestHost host(*camera);
    std::string serial;
    for (uint16_t a = 0x1040; a < 0x1080; ++a) {
        const auto byte = host.ReadEeprom(a);
        ASSERT_TRUE(byte.has_value());
        if (*byte == 0xFF)
            break;
        serial.push_back(static_cast<char>(*byte));
    }
    EXPECT_EQ(serial, "QX252-004711");
    EXPECT_EQ(host.ReadEeprom(0x1040 + 12), 0xFF);
    EXPECT_EQ(host.ReadEeprom(0x1080), 0x3C);
    EXPECT_EQ(host.ReadEeprom(0x0000), 0xFF);  // blank cell

    ASSERT_TRUE(host.WriteEeprom(0x1080, 0x77));
    EXPECT_EQ(host.ReadEeprom(0x1080), 0x77);
    EXPECT_EQ(camera->Log().WrittenValues(RegisterSpace::kEeprom, 0x1080),
              (std::vector<uint8_t>{0x77}));

    // A serial number too long for its cells keeps the end mark and the user ID intact.
    config.serialNumber = std::string(80, 'S');
    auto longSerial = CreateCamera(config);
    EXPECT_EQ(longSerial->EepromByte(0x1040 + 62), 'S');
    EXPECT_EQ(longSerial->EepromByte(0x1040 + 63), 0xFF);
    EXPECT_EQ(longSerial->EepromByte(0x1080), 0x3C);
}

TEST(EmulatorController, EepromWriteFaults) {
    auto camera = CreateCamera();
    TestHost host(*camera);
    camera->Faults().SetEepromWriteFault(EepromWriteFault::kStall);
    EXPECT_FALSE(host.WriteEeprom(0x1080, 0x11));
    EXPECT_EQ(host.ReadEeprom(0x1080), 0x00);

    camera->Faults().SetEepromWriteFault(EepromWriteFault::kNotStored);
    EXPECT_TRUE(host.WriteEeprom(0x1080, 0x11));
    EXPECT_EQ(host.ReadEeprom(0x1080), 0x00);

    camera->Faults().SetEepromWriteFault(EepromWriteFault::kNone);
    EXPECT_TRUE(host.WriteEeprom(0x1080, 0x11));
    EXPECT_EQ(host.ReadEeprom(0x1080), 0x11);
    EXPECT_EQ(camera->Counters().eepromWrites, 2u);  // the stalled write never happened
}

// Word, byte and 32-bit register requests keep what they were sent.
TEST(EmulatorController, ControllerRegisterRequests) {
    auto camera = CreateCamera();
    TestHost host(*camera);
    // 0xD0: bit 15 of the address travels in the value field.
    ASSERT_EQ(host.Control(kOut, 0xD0, 1, 0x0123, {0x78, 0x56, 0x34, 0x12}).result,
              TransferResult::kCompleted);
    const ControlReply reg32 = host.Control(kIn, 0xD1, 0, 0x8123);
    EXPECT_EQ(reg32.moved, 64u);
    EXPECT_EQ(Le16(reg32.data.data()), 0x5678);
    EXPECT_EQ(Le32(reg32.data.data()), 0x12345678u);
    EXPECT_EQ(Le32(host.Control(kIn, 0xD1, 0, 0x0123).data.data()), 0u);

    ASSERT_EQ(host.Control(kOut, 0x3E, 0, 0, {0x12, 0x34, 0xAB, 0xCD}).result,
              TransferResult::kCompleted);
    EXPECT_EQ(Le16(host.Control(kIn, 0x3F, 0x1234, 0).data.data()), 0xABCD);

    ASSERT_EQ(host.Control(kOut, 0x3C, 0, 0, {0x01, 0, 0, 0}).result, TransferResult::kCompleted);
    EXPECT_EQ(host.Control(kIn, 0x3D, 0, 0).data[0], 0x01);
    EXPECT_EQ(host.Control(kOutEndpoint, 0xCC, 0, 0).result, TransferResult::kCompleted);

    // Every request is logged with its setup fields and data stage.
    const auto requests = camera->Log().VendorRequests();
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests[0].setup.request, 0xD0);
    EXPECT_EQ(requests[0].setup.value, 1);
    EXPECT_EQ(requests[0].setup.index, 0x0123);
    EXPECT_EQ(requests[0].data.size(), 64u);
    EXPECT_EQ(requests[0].data[0], 0x78);
    EXPECT_EQ(camera->Log().CountVendorRequests(0xD1), 2u);
}

TEST(EmulatorController, InjectedRequestAndBusFaults) {
    auto camera = CreateCamera();
    TestHost host(*camera);
    camera->Faults().StallVendorRequest(0xB0, 2);
    EXPECT_EQ(host.Control(kIn, 0xB0, 0, 0).result, TransferResult::kStalled);
    EXPECT_EQ(host.Control(kIn, 0xB0, 0, 0).result, TransferResult::kStalled);
    EXPECT_EQ(host.Control(kIn, 0xB0, 0, 0).result, TransferResult::kCompleted);

    camera->Faults().RefuseBusDevice(0x41, 1);  // the read form names the FPGA too
    EXPECT_FALSE(host.ReadFpga(0x07).has_value());
    EXPECT_TRUE(host.ReadFpga(0x07).has_value());
    EXPECT_EQ(camera->Counters().busRefusals, 1u);
    const auto transfers = camera->Log().BusTransfers();
    ASSERT_FALSE(transfers.empty());
    EXPECT_FALSE(transfers[0].acknowledged);
}

// Command mode: "QU3W" and its data on 0x01 fill the memory; "QU3R" sends it back on 0x81.
TEST(EmulatorController, CommandModeMemoryTransfers) {
    auto camera = CreateCamera();
    TestHost host(*camera);
    const auto block = [](const char* magic, uint64_t address, uint32_t count) {
        std::vector<uint8_t> b(32, 0);
        std::memcpy(b.data(), magic, 4);
        b[4] = 2;
        for (int i = 0; i < 8; ++i)
            b[8 + i] = static_cast<uint8_t>(address >> (8 * i));
        for (int i = 0; i < 4; ++i)
            b[16 + i] = static_cast<uint8_t>(count >> (8 * i));
        return b;
    };
    const uint64_t address = 0x1'0000'2000ull;
    std::vector<uint8_t> payload(8192);
    for (size_t i = 0; i < payload.size(); ++i)
        payload[i] = static_cast<uint8_t>(i * 7 + 3);
    size_t moved = 0;
    ASSERT_EQ(host.Send(0x01, block("QU3W", address, 8192), &moved), TransferResult::kCompleted);
    ASSERT_EQ(host.Send(0x01, payload, &moved), TransferResult::kCompleted);
    EXPECT_EQ(moved, 8192u);
    EXPECT_EQ(camera->MemoryByte(address + 5), payload[5]);

    ASSERT_EQ(host.Send(0x01, block("QU3R", address + 4096, 4096), &moved),
              TransferResult::kCompleted);
    std::vector<uint8_t> back(4096);
    ASSERT_EQ(host.Receive(0x81, back, &moved), TransferResult::kCompleted);
    EXPECT_EQ(moved, 4096u);
    EXPECT_TRUE(std::equal(back.begin(), back.end(), payload.begin() + 4096));

    // A block with a wrong magic, version or size stalls.
    EXPECT_EQ(host.Send(0x01, block("QU3X", 0, 16), &moved), TransferResult::kStalled);
    auto badVersion = block("QU3R", 0, 16);
    badVersion[4] = 3;
    EXPECT_EQ(host.Send(0x01, badVersion, &moved), TransferResult::kStalled);
    EXPECT_EQ(host.Send(0x01, std::vector<uint8_t>(31, 0), &moved), TransferResult::kStalled);
    EXPECT_EQ(camera->Counters().commandBlocks, 2u);
}

}  // namespace
}  // namespace quorix::sim::test
