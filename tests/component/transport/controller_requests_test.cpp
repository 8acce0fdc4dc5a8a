// The controller's vendor requests and sensor-bus operations, checked against what the emulated
// camera received (its request, bus and register logs) and what it holds afterwards.

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

#include "controller_fixture.h"

namespace quorix {
namespace {

using test::TransportControllerTest;

// Every control request carries a 64-byte data stage; `payload` is what the host put at its
// start, the rest zero.
void ExpectRequest(const sim::VendorRequestRecord& record, uint8_t type, uint8_t code,
                   uint16_t value, uint16_t index, const std::vector<uint8_t>& payload) {
    EXPECT_EQ(record.setup.requestType, type);
    EXPECT_EQ(record.setup.request, code);
    EXPECT_EQ(record.setup.value, value);
    EXPECT_EQ(record.setup.index, index);
    EXPECT_EQ(record.setup.length, 64);
    if ((type & 0x80) == 0) {
        std::vector<uint8_t> expected(64, 0);
        std::copy(payload.begin(), payload.end(), expected.begin());
        EXPECT_EQ(record.data, expected);
    }
}

TEST_F(TransportControllerTest, VendorRequestsCarryTheirTypeCodeValueIndexAndPayload) {
    ASSERT_EQ(m_cam->WriteRegister32(0x8123, 0xDEADBEEF), 1);
    ASSERT_EQ(m_cam->WriteWordPair(0x1234, 0xABCD), 1);
    ASSERT_EQ(m_cam->WriteByte3C(0x1FF), 1);
    ASSERT_EQ(m_cam->ResetStream(), 1);
    ASSERT_EQ(m_cam->SendVendorRequestCC(), 1);
    uint16_t word = 0;
    ASSERT_EQ(m_cam->ReadRegister16(0x8123, &word), 1);
    ASSERT_EQ(m_cam->ReadWord(0x1234, &word), 1);
    uint8_t byte = 0;
    ASSERT_EQ(m_cam->ReadByte3D(&byte), 1);

    const auto requests = Requests();
    ASSERT_EQ(requests.size(), 8u);
    // Address bit 15 goes into the value, the low 15 bits into the index.
    ExpectRequest(requests[0], 0x40, 0xD0, 1, 0x0123, {0xEF, 0xBE, 0xAD, 0xDE});
    // Both words high byte first.
    ExpectRequest(requests[1], 0x40, 0x3E, 0, 0, {0x12, 0x34, 0xAB, 0xCD});
    // Only the low byte of the argument, as a 32-bit word.
    ExpectRequest(requests[2], 0x40, 0x3C, 0, 0, {0xFF, 0, 0, 0});
    ExpectRequest(requests[3], 0x40, 0xC0, 0, 0, {});
    ExpectRequest(requests[4], 0x42, 0xCC, 0, 0, {});
    ExpectRequest(requests[5], 0xC0, 0xD1, 0, 0x8123, {});
    ExpectRequest(requests[6], 0xC0, 0x3F, 0x1234, 0, {});
    ExpectRequest(requests[7], 0xC0, 0x3D, 0, 0, {});
    EXPECT_EQ(Camera().Counters().streamResets, 1u);
}

// What was written comes back through the matching read: the reply is decoded little-endian and
// from the right bytes.
TEST_F(TransportControllerTest, RepliesAreDecodedFromTheDataStage) {
    ASSERT_EQ(m_cam->WriteRegister32(0x8123, 0xDEADBEEF), 1);
    uint16_t value = 0;
    ASSERT_EQ(m_cam->ReadRegister16(0x8123, &value), 1);
    EXPECT_EQ(value, 0xBEEF);

    ASSERT_EQ(m_cam->WriteWordPair(0x0042, 0xA55A), 1);
    ASSERT_EQ(m_cam->ReadWord(0x0042, &value), 1);
    EXPECT_EQ(value, 0xA55A);

    ASSERT_EQ(m_cam->WriteByte3C(0x0180), 1);
    uint8_t byte = 0;
    ASSERT_EQ(m_cam->ReadByte3D(&byte), 1);
    EXPECT_EQ(byte, 0x80);

    uint8_t state = 0xEE;
    ASSERT_EQ(m_cam->ReadGpio25State(&state), 1);
    EXPECT_EQ(state, 1);  // ready at once

    uint8_t info[64] = {};
    ASSERT_EQ(m_cam->ReadDeviceInfo(info), 1);
    const sim::CameraConfig& config = Camera().Config();
    EXPECT_EQ(info[24] | (info[25] << 8), config.firmwareVersion);
    EXPECT_EQ(info[52], config.gpio25Flag);
    EXPECT_EQ(info[18] | (info[19] << 8), config.productId);
    ASSERT_EQ(m_cam->ReadDeviceInfo2(info), 1);
    EXPECT_EQ(info[0], config.deviceSpeed);

    uint32_t speed = 0;
    ASSERT_EQ(m_cam->GetDeviceSpeed(&speed), 1);
    EXPECT_EQ(speed, config.deviceSpeed);
}

// A firmware reply shorter than the operation needs must not pass for a value: the output keeps
// what it had (ReadRegister16 gives 0) and the operation fails.
TEST_F(TransportControllerTest, ShortRepliesFailAndLeaveTheOutputAlone) {
    m_provider->LimitControlReplies(63);
    uint8_t info[64];
    std::memset(info, 0xEE, sizeof(info));
    EXPECT_EQ(m_cam->ReadDeviceInfo(info), 0);
    EXPECT_EQ(m_cam->ReadDeviceInfo2(info), 0);
    uint8_t state = 0xEE;
    EXPECT_EQ(m_cam->ReadGpio25State(&state), 0);
    EXPECT_EQ(state, 0xEE);
    uint16_t word = 0x7777;
    EXPECT_EQ(m_cam->ReadRegister16(0x10, &word), 0);
    EXPECT_EQ(word, 0);
    for (uint8_t b : info)
        ASSERT_EQ(b, 0xEE);

    // A bus read must get every byte it asked for.
    m_provider->LimitControlReplies(1);
    uint8_t two[2] = {0xEE, 0xEE};
    EXPECT_EQ(m_cam->BusRead(0x40, two, 2, 3000), 0);
    EXPECT_EQ(two[0], 0xEE);
    EXPECT_EQ(two[1], 0xEE);
    m_provider->LimitControlReplies(0);
    uint8_t byte = 0xEE;
    EXPECT_EQ(m_cam->ReadByte3D(&byte), 0);
    EXPECT_EQ(byte, 0xEE);
    // A word needs two bytes.
    m_provider->LimitControlReplies(1);
    word = 0x7777;
    EXPECT_EQ(m_cam->ReadWord(0, &word), 0);
    EXPECT_EQ(word, 0x7777);
}

TEST_F(TransportControllerTest, BusTransfersAreLimitedToTheSixtyFourByteDataStage) {
    // 64 bytes to the EEPROM: the 2-byte address and 62 data bytes.
    std::array<uint8_t, 65> bytes{};
    bytes[0] = 0x02;
    bytes[1] = 0x00;
    for (size_t i = 2; i < bytes.size(); ++i)
        bytes[i] = static_cast<uint8_t>(i * 3);
    ASSERT_EQ(m_cam->BusWrite(0xA2, bytes.data(), 64, 3000), 1);
    const auto requests = Requests();
    ASSERT_EQ(requests.size(), 1u);
    ExpectRequest(requests[0], 0x40, 0x30, 64, 0xA2,
                  std::vector<uint8_t>(bytes.begin(), bytes.begin() + 64));
    for (uint16_t i = 0; i < 62; ++i)
        ASSERT_EQ(Camera().EepromByte(0x0200 + i), bytes[i + 2]) << i;

    // 65 bytes do not fit: refused before anything is sent.
    EXPECT_EQ(m_cam->BusWrite(0xA2, bytes.data(), 65, 3000), 0);
    uint8_t big[65];
    EXPECT_EQ(m_cam->BusRead(0xA2, big, 65, 3000), 0);
    EXPECT_EQ(Requests().size(), 1u);

    // A read asks with the read form of the address and gets exactly what it asked for.
    ASSERT_EQ(m_cam->BusWrite(0xA2, bytes.data(), 2, 3000), 1);
    uint8_t back[64] = {};
    ASSERT_EQ(m_cam->BusRead(0xA2, back, 62, 3000), 1);
    EXPECT_EQ(std::memcmp(back, bytes.data() + 2, 62), 0);
    const auto read = Requests().back();
    ExpectRequest(read, 0xC0, 0x31, 62, 0xA3, {});
}

TEST_F(TransportControllerTest, FpgaRegistersTravelAsTheFpgaExpectsThem) {
    ASSERT_EQ(m_cam->WriteFpgaRegister(7, 0x5A), 1);
    EXPECT_EQ(Camera().FpgaRegister(7), 0x5A);
    // The FPGA answers {0x00, value}: the value is the second byte, which the first must not mask.
    uint8_t low = 0;
    uint8_t high = 0;
    ASSERT_EQ(m_cam->ReadFpgaRegister(0x10, &low), 1);
    ASSERT_EQ(m_cam->ReadFpgaRegister(0x11, &high), 1);
    const uint16_t version = Camera().Config().fpgaVersion;
    EXPECT_EQ(low, version & 0xFF);
    EXPECT_EQ(high, version >> 8);
    uint16_t read = 0;
    ASSERT_EQ(m_cam->ReadFpgaVersion(&read), 1);
    EXPECT_EQ(read, version);

    const auto bus = Camera().Log().BusTransfers();
    ASSERT_GE(bus.size(), 3u);
    EXPECT_EQ(bus[0].address, 0x40);
    EXPECT_FALSE(bus[0].read);
    EXPECT_EQ(bus[0].bytes, (std::vector<uint8_t>{7, 0x00, 0x5A}));
    EXPECT_EQ(bus[1].address, 0x40);
    EXPECT_EQ(bus[1].bytes, (std::vector<uint8_t>{0x10}));
    EXPECT_EQ(bus[2].address, 0x41);
    EXPECT_TRUE(bus[2].read);
    ASSERT_EQ(bus[2].bytes.size(), 2u);
    EXPECT_EQ(bus[2].bytes[1], version & 0xFF);

    // A register read whose address write is refused reads nothing.
    Camera().Faults().RefuseBusDevice(0x40, 1);
    uint8_t value = 0xEE;
    EXPECT_EQ(m_cam->ReadFpgaRegister(0x10, &value), 0);
    EXPECT_EQ(value, 0xEE);
}

TEST_F(TransportControllerTest, AuxiliaryDeviceAndEepromBytes) {
    ASSERT_EQ(m_cam->WriteDevice5A(3, 0x99), 1);
    EXPECT_EQ(Camera().AuxRegister(3), 0x99);
    uint8_t value = 0;
    ASSERT_EQ(m_cam->ReadDevice5A(3, &value), 1);
    EXPECT_EQ(value, 0x99);

    ASSERT_EQ(m_cam->WriteEepromByte(0x0123, 0x77), 1);
    EXPECT_EQ(Camera().EepromByte(0x0123), 0x77);
    ASSERT_EQ(m_cam->ReadEepromByte(0x0123, &value), 1);
    EXPECT_EQ(value, 0x77);
    // The serial number the camera was made with.
    ASSERT_EQ(m_cam->ReadEepromByte(0x1040, &value), 1);
    EXPECT_EQ(value, static_cast<uint8_t>(Camera().Config().serialNumber[0]));

    const auto bus = Camera().Log().BusTransfers();
    const std::vector<std::pair<uint8_t, std::vector<uint8_t>>> expected = {
        {0x5A, {3, 0x99}},    {0x5A, {3}},    {0x5B, {0x99}},       {0xA2, {0x01, 0x23, 0x77}},
        {0xA2, {0x01, 0x23}}, {0xA3, {0x77}}, {0xA2, {0x10, 0x40}}, {0xA3, {value}}};
    ASSERT_EQ(bus.size(), expected.size());
    for (size_t i = 0; i < bus.size(); ++i) {
        EXPECT_EQ(bus[i].address, expected[i].first) << i;
        EXPECT_EQ(bus[i].bytes, expected[i].second) << i;
    }

    // An EEPROM that refuses the write fails the operation.
    Camera().Faults().SetEepromWriteFault(sim::EepromWriteFault::kStall);
    EXPECT_EQ(m_cam->WriteEepromByte(0x0124, 0x11), 0);
}

TEST_F(TransportControllerTest, FrameRequestsNeedAHandleAndGoToTheEndpoint) {
    EXPECT_EQ(m_cam->RequestFrame(), 0);  // no stream handle yet
    EXPECT_TRUE(Requests().empty());
    ASSERT_EQ(m_cam->OpenStreamHandle(), 1);
    ASSERT_EQ(m_cam->RequestFrame(), 1);
    const auto requests = Requests();
    ASSERT_EQ(requests.size(), 1u);
    ExpectRequest(requests[0], 0x42, 0xC2, 0, 0, {});
    EXPECT_EQ(m_cam->CloseStreamHandle(), 1);
    EXPECT_EQ(m_cam->CloseStreamHandle(), 0);
}

TEST_F(TransportControllerTest, ResetsReachTheCamera) {
    const sim::CameraCounters before = Camera().Counters();
    ASSERT_EQ(m_cam->ResetPipe(0x81), 1);
    ASSERT_EQ(m_cam->ResetDevice(), 1);
    // The buffer exists already; allocating again still resets the device.
    ASSERT_EQ(m_cam->AllocateTransferBuffer(), 1);
    const sim::CameraCounters after = Camera().Counters();
    EXPECT_EQ(after.pipeResets, before.pipeResets + 1);
    EXPECT_EQ(after.deviceResets, before.deviceResets + 2);
}

// Selecting an entry that is not there keeps the old selection, and requests still reach the
// camera it names.
TEST_F(TransportControllerTest, AFailedSelectionKeepsTheSelectedCamera) {
    EXPECT_EQ(m_cam->SelectDevice(1), 0);
    EXPECT_EQ(m_cam->SelectDevice(-1), 0);
    EXPECT_EQ(m_cam->SelectedDevice(), 0);
    EXPECT_EQ(m_cam->ResetStream(), 1);
    EXPECT_EQ(Requests().size(), 1u);

    // An unplugged camera: every request fails, nothing hangs.
    m_provider->camera->Unplug();
    EXPECT_EQ(m_cam->ResetStream(), 0);
    EXPECT_EQ(m_cam->SelectDevice(0), 0);
    EXPECT_EQ(m_cam->OpenStreamHandle(), 0);
}

}  // namespace
}  // namespace quorix
