// The sensor interface's base behaviour and its FPGA helpers.
#include "sensors/sensor_base.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "fake_controller.h"
#include "platform/clock.h"

namespace quorix {
namespace {

using test::FakeController;

// A head that overrides nothing.
class BareHead : public CSensorBase {
public:
    explicit BareHead(CControllerBase* controller) { Attach(controller, 72); }
    using CSensorBase::m_nTriggerVariant;
};

TEST(SensorBase, AHeadWithoutOverridesSupportsNothing) {
    BareHead head(nullptr);
    int32_t value = 77;
    double seconds = 7.0;
    EXPECT_EQ(head.Initialize(), 0);
    EXPECT_EQ(head.IsReady(), 0);
    EXPECT_EQ(head.SetCaptureWindow(0, 2048, 0, 1536, 0), 0);
    EXPECT_EQ(head.SetGain(1), 0);
    EXPECT_EQ(head.GetGain(&value), 0);
    EXPECT_EQ(value, 77);
    EXPECT_EQ(head.SetExposureTime(10), 0);
    EXPECT_EQ(head.SupportsOutput8(), 1);
    EXPECT_EQ(head.SupportsOutput16(), 1);
    EXPECT_EQ(head.SupportsOutputColor(), 1);
    EXPECT_EQ(head.GetGainMode(), -1);
    EXPECT_EQ(head.GetRawWidthMode(), -1);
    // Gated getters report the stored value and the (absent) support.
    EXPECT_EQ(head.GetBlackLevel(&value), 0);
    EXPECT_EQ(value, 0);
    value = 77;
    EXPECT_EQ(head.GetAuxValue(&value), 0);
    EXPECT_EQ(value, 0);
    EXPECT_EQ(head.GetExposureTimeExMin(&seconds), 0.0);
    EXPECT_EQ(seconds, 0.0);
}

TEST(SensorBase, CopyStateBlockCopiesExactlyTheEightyEightWords) {
    BareHead head(nullptr);
    head.State().m_nMaxWidth = 2048;
    head.State().m_reserved87 = 0xCAFE;
    head.State().m_dExposureTimeEx = 0.25;
    EXPECT_EQ(head.CopyStateBlock(nullptr), 0);
    std::vector<uint32_t> words(90, 0xA5A5A5A5u);
    ASSERT_EQ(head.CopyStateBlock(words.data()), 1);
    EXPECT_EQ(words[0], 2048u);
    EXPECT_EQ(words[87], 0xCAFEu);
    double exposure = 0;
    std::memcpy(&exposure, &words[68], sizeof exposure);
    EXPECT_EQ(exposure, 0.25);
    EXPECT_EQ(words[88], 0xA5A5A5A5u);
    EXPECT_EQ(words[89], 0xA5A5A5A5u);
}

TEST(SensorBase, VerifiedWriteComparesTheLowByte) {
    FakeController board;
    BareHead head(&board);
    platform::SetTimeScale(1000);
    EXPECT_EQ(head.WriteFpgaRegisterVerified(0x58, 0x1A5), 1);
    EXPECT_EQ(board.fpga[0x58], 0xA5);
    EXPECT_EQ(board.fpgaWrites.size(), 1u);
    platform::SetTimeScale(1);
}

TEST(SensorBase, ReconfigureSkipsALoadedFpga) {
    FakeController board;
    BareHead head(&board);
    board.fpga[0x81] = 0x02;
    EXPECT_EQ(head.ReconfigureFpga(), 1);
    EXPECT_TRUE(board.fpgaWrites.empty());
}

TEST(SensorBase, BridgeResetPulsesBitZero) {
    FakeController board;
    BareHead head(&board);
    board.fpga[0x82] = 0xF1;
    platform::SetTimeScale(1000);
    head.ResetSensorBridge();
    platform::SetTimeScale(1);
    const std::vector<std::pair<uint8_t, uint8_t>> expected = {
        {0x82, 0xF0}, {0x82, 0xF1}, {0x82, 0xF0}};
    EXPECT_EQ(board.fpgaWrites, expected);
}

// Trigger timing: the exposure lines in three bytes, the trigger delay, and a period of
// exposure + height + 25 lines, then the trigger handling switched on.
TEST(SensorBase, TriggerTimingCarriesLinesAndPeriod) {
    FakeController board;
    BareHead head(&board);
    head.m_nTriggerVariant = 1;
    head.State().m_nExposureLines = 2870;
    head.State().m_nHeight = 1536;
    platform::SetTimeScale(1000);
    head.ProgramTriggerTiming();
    platform::SetTimeScale(1);
    const uint32_t period = 2870 + 1536 + 25;
    const std::vector<std::pair<uint8_t, uint8_t>> expected = {
        {0x58, 0},    {0x85, 2870 & 0xFF},   {0x86, 2870 >> 8},   {0x9B, 0}, {0x54, 0x20},
        {0x55, 0x01}, {0x50, period & 0xFF}, {0x51, period >> 8}, {0x58, 1}};
    EXPECT_EQ(board.fpgaWrites, expected);
}

TEST(SensorBase, RestartTransferPulsesTheTransferReset) {
    FakeController board;
    BareHead head(&board);
    EXPECT_EQ(head.RestartTransfer(), 1);
    const std::vector<std::pair<uint8_t, uint8_t>> expected = {{0x6C, 1}, {0x6C, 0}};
    EXPECT_EQ(board.fpgaWrites, expected);
    BareHead orphan(nullptr);
    EXPECT_EQ(orphan.RestartTransfer(), 0);
}

}  // namespace
}  // namespace quorix
