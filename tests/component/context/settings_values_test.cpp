// The value IDs of Quorix_GetFilterValue / Quorix_SetFilterValue and their named wrappers, with an
// emulated camera open: the ranges of the values the context keeps, the packed Bayer gains, the
// camera values whose ranges come from the camera and which reach its registers, and the codes of
// the IDs this camera does not have.

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <vector>

#include "context_test_support.h"

namespace quorix {
namespace {

using test::ContextCameraTest;

class FilterValues : public ContextCameraTest {
protected:
    void SetUp() override {
        m_camera = Attach("QX252-001001");
        m_handle = Initialize();
        ASSERT_EQ(ContextOf(m_handle).DeviceNumber(), 0);
        DrainThreadQueue();
        while (Quorix_GetLastError(m_handle) != 0) {
        }
    }
    void TearDown() override {
        DrainThreadQueue();
        ContextCameraTest::TearDown();
    }
    static void DrainThreadQueue() {
        QuorixMessage message;
        while (Quorix_PeekThreadMessage(&message) == 1) {
        }
    }
    // The codes recorded since the last call, newest first.
    std::vector<uint32_t> Codes() {
        std::vector<uint32_t> codes;
        // The history holds 20 codes and answers 0 when empty; 0 is also a success marker, so
        // the whole history is read.
        for (int i = 0; i < 20; ++i) {
            codes.push_back(Quorix_GetLastError(m_handle));
        }
        while (!codes.empty() && codes.back() == 0) {
            codes.pop_back();
        }
        return codes;
    }
    int32_t Get(int32_t id, int32_t* ok = nullptr) {
        return Quorix_GetFilterValue(m_handle, id, ok);
    }
    int Set(int32_t id, int32_t value) { return Quorix_SetFilterValue(m_handle, id, value); }

    std::shared_ptr<sim::EmulatedCamera> m_camera;
    QuorixHandle m_handle = 0;
};

// --- Values the context keeps --------------------------------------------------------------

struct RangeCase {
    int32_t id;
    int32_t minimum;
    int32_t maximum;
};

void PrintTo(const RangeCase& c, std::ostream* os) {
    *os << "value ID " << c.id << " (" << c.minimum << ".." << c.maximum << ")";
}

class StoredValueRanges : public FilterValues, public ::testing::WithParamInterface<RangeCase> {};

// Both ends of the range are taken and read back; one step beyond either end is refused with
// code 9 and leaves the value as it was.
TEST_P(StoredValueRanges, EndsAreTakenAndOneBeyondIsRefused) {
    const RangeCase& c = GetParam();
    for (const int32_t value : {c.minimum, c.maximum}) {
        ASSERT_EQ(Set(c.id, value), 1) << value;
        int32_t ok = 7;
        EXPECT_EQ(Get(c.id, &ok), value);
        EXPECT_EQ(ok, 1);
    }
    for (const int32_t beyond : {c.minimum - 1, c.maximum + 1}) {
        EXPECT_EQ(Set(c.id, beyond), 0) << beyond;
        EXPECT_EQ(Codes(), (std::vector<uint32_t>{9})) << beyond;
        EXPECT_EQ(Get(c.id), c.maximum) << beyond;
    }
    EXPECT_TRUE(Codes().empty());
}

INSTANTIATE_TEST_SUITE_P(
    ImageAndGrayValues, StoredValueRanges,
    ::testing::Values(RangeCase{1, -255, 255}, RangeCase{2, -127, 127}, RangeCase{3, -360, 360},
                      RangeCase{4, -255, 255}, RangeCase{5, 0, 30}, RangeCase{7, 0, 400},
                      RangeCase{8, 0, 400}, RangeCase{9, 0, 400}, RangeCase{11, 0, 200},
                      RangeCase{12, 0, 3}, RangeCase{19, 0, 2}, RangeCase{20, 0, 255},
                      RangeCase{21, 0, 255}, RangeCase{22, 0, 255}, RangeCase{23, 0, 255},
                      RangeCase{24, -255, 255}, RangeCase{25, -255, 255}, RangeCase{26, -255, 255},
                      RangeCase{27, -255, 255}, RangeCase{102, 0, 1}, RangeCase{103, 0, 1}));

// Each value is its own: setting one leaves the others alone, whatever their ID neighbours.
TEST_F(FilterValues, EachIdKeepsItsOwnValue) {
    const std::vector<int32_t> ids = {1,  2,  3,  4,  5,  7,  8,  9,  11,  12, 19,
                                      20, 21, 22, 23, 24, 25, 26, 27, 102, 103};
    std::vector<int32_t> written;
    for (size_t i = 0; i < ids.size(); ++i) {
        // Small distinct values inside every range: 0, 1 for the switches and 2..3 for the modes.
        const int32_t value = ids[i] == 12 ? 2 : ids[i] >= 100 || ids[i] == 19 ? 1 : 10 + int(i);
        ASSERT_EQ(Set(ids[i], value), 1) << ids[i];
        written.push_back(value);
    }
    for (size_t i = 0; i < ids.size(); ++i) {
        EXPECT_EQ(Get(ids[i]), written[i]) << "value ID " << ids[i];
    }
}

TEST_F(FilterValues, BrightnessRefuses256AndTakesMinus255) {
    ASSERT_EQ(Quorix_SetBrightness(m_handle, 40), 1);
    EXPECT_EQ(Quorix_SetBrightness(m_handle, 256), 0);
    EXPECT_EQ(Codes(), (std::vector<uint32_t>{9}));
    EXPECT_EQ(Quorix_GetBrightness(m_handle, nullptr), 40);
    EXPECT_EQ(Quorix_SetBrightness(m_handle, -255), 1);
    EXPECT_EQ(Quorix_GetBrightness(m_handle, nullptr), -255);
    EXPECT_TRUE(Codes().empty());
}

// One packed value carries the three Bayer gains: red in bits 0-7, green in 8-15, blue in 16-23.
TEST_F(FilterValues, PackedBayerGainsSplitAndPackAgain) {
    const int32_t packed = 50 | 100 << 8 | 200 << 16;
    ASSERT_EQ(Quorix_SetBayerGainRGB(m_handle, packed), 1);
    EXPECT_EQ(Quorix_GetBayerGainRed(m_handle, nullptr), 50);
    EXPECT_EQ(Quorix_GetBayerGainGreen(m_handle, nullptr), 100);
    EXPECT_EQ(Quorix_GetBayerGainBlue(m_handle, nullptr), 200);
    int32_t ok = 7;
    EXPECT_EQ(Quorix_GetBayerGainRGB(m_handle, &ok), packed);
    EXPECT_EQ(ok, 1);

    // Gains set one by one pack the same way; the top byte of the packed value is not a gain.
    ASSERT_EQ(Quorix_SetBayerGainRed(m_handle, 7), 1);
    ASSERT_EQ(Quorix_SetBayerGainBlue(m_handle, 255), 1);
    EXPECT_EQ(Get(6), 7 | 100 << 8 | 255 << 16);
    ASSERT_EQ(Set(6, static_cast<int32_t>(0x7F030201)), 1);
    EXPECT_EQ(Get(6), 0x030201);
    EXPECT_TRUE(Codes().empty());
}

// The Bayer-auto switch takes any value and keeps it as 0 or 1.
TEST_F(FilterValues, BayerAutoIsKeptAsZeroOrOne) {
    for (const int32_t value : {5, -1, 0, 1, INT32_MIN}) {
        ASSERT_EQ(Quorix_SetBayerGainAuto(m_handle, value), 1) << value;
        EXPECT_EQ(Quorix_GetBayerGainAuto(m_handle, nullptr), value != 0 ? 1 : 0) << value;
    }
    EXPECT_TRUE(Codes().empty());
}

// --- IDs that answer with a code ---------------------------------------------------------------

struct CodeCase {
    const char* name;
    int32_t id;
    bool set;  // the setter, else the getter
    int32_t result;
    uint32_t code;  // 0: nothing recorded
    int32_t ok;     // the getter's flag afterwards
};

void PrintTo(const CodeCase& c, std::ostream* os) {
    *os << c.name;
}

class ValueIdCodes : public FilterValues, public ::testing::WithParamInterface<CodeCase> {};

TEST_P(ValueIdCodes, AnswerAsThisCameraCan) {
    const CodeCase& c = GetParam();
    int32_t ok = 7;
    const int32_t result = c.set ? Set(c.id, 1) : Get(c.id, &ok);
    EXPECT_EQ(result, c.result);
    if (c.code != 0) {
        EXPECT_EQ(Codes(), (std::vector<uint32_t>{c.code}));
    } else {
        EXPECT_TRUE(Codes().empty());
    }
    if (!c.set) {
        EXPECT_EQ(ok, c.ok);
    }
}

// This camera has no channel gains or offsets (29-36), no cooler (100), no thermometer (101),
// no gain modes (104), no short exposure mode (105) and no black level setting (106); 28 is a
// command that cannot be read, and IDs outside the table are unknown.
INSTANTIATE_TEST_SUITE_P(
    Table, ValueIdCodes,
    ::testing::Values(
        CodeCase{"get 28", 28, false, 0, 9, 0}, CodeCase{"set 28", 28, true, 1, 0, 0},
        CodeCase{"get 29", 29, false, 0, 9, 0}, CodeCase{"set 32", 32, true, 0, 9, 0},
        CodeCase{"get 33", 33, false, 0, 9, 0}, CodeCase{"set 36", 36, true, 0, 9, 0},
        CodeCase{"get 0", 0, false, 0, 9, 0}, CodeCase{"set 0", 0, true, 0, 9, 0},
        CodeCase{"get 37", 37, false, 0, 9, 0}, CodeCase{"set 99", 99, true, 0, 9, 0},
        CodeCase{"get 107", 107, false, 0, 9, 0}, CodeCase{"set 101", 101, true, 0, 9, 0},
        CodeCase{"get 100", 100, false, -1, 11, 0}, CodeCase{"set 100", 100, true, 0, 11, 0},
        CodeCase{"get 101", 101, false, -1, 11, 0}, CodeCase{"get 104", 104, false, -1, 0, 0},
        CodeCase{"set 104", 104, true, 0, 0, 0}, CodeCase{"get 105", 105, false, 0, 11, 0},
        CodeCase{"set 105", 105, true, 0, 11, 0}, CodeCase{"get 106", 106, false, 0, 11, 0},
        CodeCase{"set 106", 106, true, 0, 11, 0}));

// Channels 1-4 are value IDs 29-32 (gains) and 33-36 (offsets), which this camera refuses with
// code 9; any other channel is no value ID at all and answers 0 without a code, leaving ok alone.
TEST_F(FilterValues, ChannelsMapOntoValueIdsAndOthersAreIgnored) {
    for (const int32_t channel : {0, 5, -1}) {
        int32_t ok = 7;
        EXPECT_EQ(Quorix_GetChannelGain(m_handle, channel, &ok), 0);
        EXPECT_EQ(Quorix_GetChannelOffset(m_handle, channel, &ok), 0);
        EXPECT_EQ(ok, 7);
        EXPECT_EQ(Quorix_SetChannelGain(m_handle, channel, 1), 0);
        EXPECT_EQ(Quorix_SetChannelOffset(m_handle, channel, 1), 0);
        EXPECT_TRUE(Codes().empty()) << "channel " << channel;
    }
    for (const int32_t channel : {1, 4}) {
        int32_t ok = 7;
        EXPECT_EQ(Quorix_GetChannelGain(m_handle, channel, &ok), 0);
        EXPECT_EQ(ok, 0);
        EXPECT_EQ(Quorix_SetChannelOffset(m_handle, channel, 1), 0);
        EXPECT_EQ(Codes(), (std::vector<uint32_t>{9, 9})) << "channel " << channel;
    }
}

// --- Camera values ---------------------------------------------------------------------------

// The global gain's range is the camera's (0..480, the gain register's 0.1 dB steps). A gain in
// range reaches the sensor's gain register and sets the four colour gains the context sends at
// every open to the same value; the getter reads what the camera holds.
TEST_F(FilterValues, GlobalGainRangeComesFromTheCameraAndReachesItsRegister) {
    EXPECT_EQ(Quorix_SetGlobalGain(m_handle, 481), 0);
    EXPECT_EQ(Codes(), (std::vector<uint32_t>{9}));
    EXPECT_EQ(Quorix_SetGlobalGain(m_handle, -1), 0);
    EXPECT_EQ(Codes(), (std::vector<uint32_t>{9}));

    for (const int32_t gain : {300, 480, 0}) {
        ASSERT_EQ(Quorix_SetGlobalGain(m_handle, gain), 1);
        EXPECT_EQ(m_camera->Readout().gain, static_cast<uint32_t>(gain));
        int32_t ok = 7;
        EXPECT_EQ(Quorix_GetGlobalGain(m_handle, &ok), gain);
        EXPECT_EQ(ok, 1);
        const CameraValues& values = ContextOf(m_handle).Camera();
        EXPECT_EQ(values.globalGain, gain);
        EXPECT_EQ(std::vector<int32_t>({values.colorGainRed, values.colorGainGreen1,
                                        values.colorGainGreen2, values.colorGainBlue}),
                  std::vector<int32_t>(4, gain));
    }
    EXPECT_TRUE(Codes().empty());
}

// The IMX252 has no colour gains: their range is 0..0, so only 0 is taken and nothing else.
TEST_F(FilterValues, ColourGainsHaveTheEmptyRangeOfThisCamera) {
    const int32_t ids[] = {QUORIX_VALUE_COLOR_GAIN_RED, QUORIX_VALUE_COLOR_GAIN_GREEN1,
                           QUORIX_VALUE_COLOR_GAIN_GREEN2, QUORIX_VALUE_COLOR_GAIN_BLUE};
    for (const int32_t id : ids) {
        EXPECT_EQ(Set(id, 1), 0) << id;
        EXPECT_EQ(Codes(), (std::vector<uint32_t>{9})) << id;
        EXPECT_EQ(Set(id, 0), 1) << id;
        int32_t ok = 7;
        EXPECT_EQ(Get(id, &ok), 0) << id;
        EXPECT_EQ(ok, 1) << id;
        EXPECT_TRUE(Codes().empty()) << id;
    }
}

}  // namespace
}  // namespace quorix
