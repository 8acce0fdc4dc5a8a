// Starting the IMX252 head on an emulated camera: the readiness waits (the bus readiness device,
// the FPGA's start-up status bits), the sensor programming in order, the FPGA version read and
// the FPGA reload that boards with an FPGA design older than 309 need.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "head_fixture.h"
#include "platform/clock.h"

namespace quorix {
namespace {

using test::CameraHeadTest;
using test::FpgaReadsOf;
using test::FpgaValues;
using test::FpgaWrites;
using test::LowFirst;
using test::ReadinessReads;
using test::RegWrites;
using test::SensorValue;
using test::SensorWrites;

class Imx252Startup : public CameraHeadTest {};

// The whole start-up on a ready camera: readiness device, bus status, the FPGA told the sensor
// bus is ready, then black level, gain 64, the default 10-line exposure (counted against the
// head's initial 1576-line frame, so the shutter opens at line 1566), no mirroring and the full
// window with its 1574-line frame of 444-clock lines. The exposure re-applied after the window
// writes nothing while the data width is unknown.
TEST_F(Imx252Startup, InitializeProgramsTheSensorInOrder) {
    ASSERT_NO_FATAL_FAILURE(Open());
    ASSERT_EQ(m_head->Initialize(), 1);

    const auto bus = Camera().Log().BusTransfers();
    ASSERT_GE(bus.size(), 4u);
    EXPECT_EQ(bus[0].address, test::kBusReadiness | 1);
    ASSERT_EQ(bus[0].bytes.size(), 2u);
    EXPECT_EQ(bus[0].bytes[0], 0);
    EXPECT_EQ(bus[1].address, test::kBusFpga);
    EXPECT_EQ(bus[1].bytes, std::vector<uint8_t>({0x02}));
    EXPECT_TRUE(bus[2].read);
    ASSERT_EQ(bus[2].bytes.size(), 2u);
    EXPECT_EQ(bus[2].bytes[1] & 0x90, 0);
    EXPECT_EQ(bus[3].address, test::kBusFpga);
    EXPECT_EQ(bus[3].bytes, std::vector<uint8_t>({0x60, 0x00, 0x01}));

    const uint32_t initialFrame = 1576;
    const uint32_t shutter = initialFrame - 10;
    const uint32_t frame = 1536 + 38;
    RegWrites expected = {{0x412, 8},
                          {0x454, 0x50},
                          {0x404, 64},
                          {0x405, 0},
                          {0x212, 0},
                          {0x211, initialFrame >> 8},
                          {0x210, initialFrame & 0xFF},
                          {0x208, 1},
                          {0x28D, shutter & 0xFF},
                          {0x28E, shutter >> 8},
                          {0x28F, 0},
                          {0x208, 0},
                          {0x20E, 0},
                          {0x20E, 0},
                          {0x20D, 0}};
    test::Append(expected, LowFirst(0x510, 8, 2));
    test::Append(expected, LowFirst(0x512, 8, 2));
    test::Append(expected, LowFirst(0x514, 2048, 2));
    test::Append(expected, LowFirst(0x516, 1540, 2));
    expected.emplace_back(0x500, 3);
    test::Append(expected, LowFirst(0x210, frame, 3));
    test::Append(expected, LowFirst(0x214, 444, 2));
    EXPECT_EQ(SensorWrites(Camera()), expected);
    // One status read for the readiness wait, then one before the first sensor write and two
    // before each further one (the bridge reports the write before it busy once).
    EXPECT_EQ(FpgaReadsOf(Camera(), 0x02), 2 * expected.size());
    EXPECT_EQ(Camera().Counters().bridgeBusyRefusals, 0u);

    // The FPGA version is read once, and a design of 320 is not reloaded.
    EXPECT_EQ(FpgaWrites(Camera()), RegWrites({{0x60, 1}}));
    EXPECT_EQ(FpgaReadsOf(Camera(), 0x10), 1u);
    EXPECT_EQ(FpgaReadsOf(Camera(), 0x11), 1u);
    EXPECT_EQ(FpgaReadsOf(Camera(), 0x81), 0u);
    EXPECT_EQ(m_head->CachedFpgaVersion(), 0x140);

    const sim::ReadoutSettings r = Camera().Readout();
    EXPECT_EQ(r.gain, 64u);
    EXPECT_FALSE(r.mirrorV || r.mirrorH);
    EXPECT_EQ(r.windowWidth, 2048);
    EXPECT_EQ(r.windowHeight, 1536);
    EXPECT_EQ(r.frameLines, 1574u);
    EXPECT_EQ(r.lineLength, 444u);
    EXPECT_EQ(r.shutterLine, 1566u);
    EXPECT_EQ(SensorValue(Camera(), 0x454, 1), 80u);
    EXPECT_EQ(State().m_nExposureTime, 170u);
    EXPECT_EQ(State().m_nExposureLines, 10u);
}

// A camera still powering up answers 1 from its readiness device; the head keeps asking, 10 ms
// apart, and programs nothing until it reads 0.
TEST_F(Imx252Startup, InitializeWaitsForASlowCamera) {
    sim::CameraConfig config;
    config.readyDelayMs = 1500;
    platform::SetTimeScale(10);
    ASSERT_NO_FATAL_FAILURE(Open(config));
    ASSERT_EQ(m_head->Initialize(), 1);

    const auto reads = ReadinessReads(Camera());
    ASSERT_GE(reads.size(), 2u);
    ASSERT_LE(reads.size(), 300u);
    for (size_t i = 0; i + 1 < reads.size(); ++i)
        EXPECT_EQ(reads[i].bytes.at(0), 1) << i;
    EXPECT_EQ(reads.back().bytes.at(0), 0);
    const auto writes = Camera().Log().RegisterWrites();
    ASSERT_FALSE(writes.empty());
    EXPECT_GT(writes.front().sequence, reads.back().sequence);
}

// A readiness device that never reports ready: 300 reads, then failure, and neither the FPGA
// nor the sensor has been touched.
TEST_F(Imx252Startup, InitializeGivesUpOnANeverReadyBusDevice) {
    sim::CameraConfig config;
    config.readyDelayMs = -1;
    ASSERT_NO_FATAL_FAILURE(Open(config));
    EXPECT_EQ(m_head->Initialize(), 0);

    const auto reads = ReadinessReads(Camera());
    EXPECT_EQ(reads.size(), 300u);
    for (const sim::BusTransferRecord& read : reads)
        EXPECT_EQ(read.bytes.at(0), 1);
    EXPECT_EQ(FpgaReadsOf(Camera(), 0x02), 0u);
    EXPECT_TRUE(Camera().Log().RegisterWrites().empty());
}

// An FPGA whose status cannot be read (the bus refuses the FPGA) counts as not ready: 300
// attempts, then failure, with the sensor bus never declared ready and no sensor write.
TEST_F(Imx252Startup, InitializeGivesUpWhenTheFpgaStatusNeverReadsReady) {
    ASSERT_NO_FATAL_FAILURE(Open());
    Camera().Faults().RefuseBusDevice(test::kBusFpga, 1000000);
    EXPECT_EQ(m_head->Initialize(), 0);
    Camera().Faults().ClearAll();

    EXPECT_EQ(ReadinessReads(Camera()).size(), 1u);
    EXPECT_EQ(FpgaReadsOf(Camera(), 0x02), 300u);
    EXPECT_TRUE(Camera().Log().RegisterWrites().empty());
}

// A sensor bus that stays busy (FPGA status bit 1) passes the start-up wait, which looks at the
// start-up bits 0x90 only, but then no sensor write can go out: every polled write gives up after
// 100 polls (of up to three status reads). A camera whose sensor takes none of its start-up programming is not usable, so the
// start-up fails at the first write that could not be made instead of reporting success with an
// unprogrammed sensor. Once the bus is free the camera starts normally.
TEST_F(Imx252Startup, InitializeFailsWhenTheSensorCannotBeProgrammed) {
    ASSERT_NO_FATAL_FAILURE(Open());
    Camera().Faults().SetBusBusyStuck(true);
    EXPECT_EQ(m_head->Initialize(), 0);
    EXPECT_EQ(FpgaReadsOf(Camera(), 0x02), 1u + 300u);
    EXPECT_TRUE(SensorWrites(Camera()).empty());
    EXPECT_EQ(FpgaValues(Camera(), 0x60), std::vector<uint8_t>({1}));

    Camera().Faults().SetBusBusyStuck(false);
    Camera().Log().Clear();
    EXPECT_EQ(m_head->Initialize(), 1);
    EXPECT_EQ(Camera().Readout().frameLines, 1574u);
}

// FPGA designs before 309 may come up without their configuration and are asked to reload it:
// the head reads register 0x81 and, unless bit 1 reports the configuration loaded, pulses bit 0
// (1 then 0) and waits for bit 1. Designs from 309 on load by themselves and are left alone.
struct FpgaCase {
    uint16_t version;
    bool loaded;                // the FPGA reports its configuration loaded at start-up
    size_t statusReads;         // reads of register 0x81 by the start-up (at least)
    uint64_t reconfigurations;  // reloads the FPGA went through
};

class Imx252FpgaReload : public CameraHeadTest, public ::testing::WithParamInterface<FpgaCase> {};

TEST_P(Imx252FpgaReload, OnlyOlderDesignsAreAskedToReload) {
    const FpgaCase& c = GetParam();
    sim::CameraConfig config;
    config.fpgaVersion = c.version;
    ASSERT_NO_FATAL_FAILURE(Open(config));
    if (!c.loaded) {
        // A reload that was started and never finished leaves the configuration unloaded.
        ASSERT_EQ(m_controller->WriteFpgaRegister(0x81, 1), 1);
        Camera().Log().Clear();
    }
    ASSERT_EQ(m_head->Initialize(), 1);
    EXPECT_EQ(m_head->CachedFpgaVersion(), c.version);

    if (c.statusReads == 0) {
        EXPECT_EQ(FpgaReadsOf(Camera(), 0x81), 0u);
    } else {
        EXPECT_GE(FpgaReadsOf(Camera(), 0x81), c.statusReads);
    }
    EXPECT_EQ(Camera().Counters().fpgaReconfigurations, c.reconfigurations);
    if (c.reconfigurations > 0) {
        EXPECT_EQ(FpgaValues(Camera(), 0x81), std::vector<uint8_t>({1, 0}));
        uint8_t status = 0;
        ASSERT_EQ(m_controller->ReadFpgaRegister(0x81, &status), 1);
        EXPECT_NE(status & 0x02, 0);
    } else {
        EXPECT_TRUE(FpgaValues(Camera(), 0x81).empty());
    }
}

INSTANTIATE_TEST_SUITE_P(Versions, Imx252FpgaReload,
                         ::testing::Values(FpgaCase{308, true, 1, 0}, FpgaCase{308, false, 2, 1},
                                           FpgaCase{309, true, 0, 0}, FpgaCase{309, false, 0, 0},
                                           FpgaCase{0x140, false, 0, 0}),
                         [](const auto& info) {
                             return "v" + std::to_string(info.param.version) +
                                    (info.param.loaded ? "Loaded" : "Unloaded");
                         });

}  // namespace
}  // namespace quorix
