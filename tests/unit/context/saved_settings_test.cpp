// What a context takes from the settings store at Quorix_Initialize, with an engine whose output
// formats the test chooses and no camera attached (device number -1).
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "../../support/settings_files.h"
#include "context/quorix.h"
#include "fake_engine.h"

namespace quorix {
namespace {

using test::CameraSection;
using test::kProductSection;
using test::kSettingsHeader;

class FormatEngine : public test::FakeEngine {
public:
    int output8 = 1;
    int output16 = 1;
    int outputColour = 1;
    int SupportsOutput8() override { return output8; }
    int SupportsOutput16() override { return output16; }
    int SupportsOutputColor() override { return outputColour; }
};

std::unique_ptr<CQuorix> Initialized(int output8, int output16, int outputColour) {
    auto context = std::make_unique<CQuorix>([=] {
        auto engine = std::make_unique<FormatEngine>();
        engine->output8 = output8;
        engine->output16 = output16;
        engine->outputColour = outputColour;
        return std::unique_ptr<CQuorixU3R5Base>(std::move(engine));
    });
    EXPECT_EQ(context->Initialize(0), 1);
    return context;
}

// A stored colour type the camera cannot deliver becomes one it can: without 8-bit output 8 bits
// and 32-bit colour become 16 bits, else 24-bit colour; without colour 24 bits become 16, else 8;
// without 16-bit output 16 bits become 24-bit colour, else 8. Codes outside 0-5 are not read.
TEST(StoredFormat, ColourTypeIsCorrectedToWhatTheCameraDelivers) {
    struct Case {
        uint32_t stored;
        int output8, output16, outputColour;
        int32_t bits;
    };
    const Case cases[] = {
        {3, 0, 1, 1, 16}, {3, 0, 0, 1, 24}, {0, 0, 1, 1, 16}, {2, 1, 1, 0, 16}, {2, 1, 0, 0, 8},
        {1, 1, 0, 1, 24}, {1, 1, 0, 0, 8},  {4, 1, 1, 1, 48}, {9, 1, 1, 1, 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "Color " << c.stored << " with 8/16/colour output "
                                        << c.output8 << c.output16 << c.outputColour);
        test::WriteSettingsFile(kSettingsHeader + kProductSection + CameraSection(-1) +
                                "\"Color\"=dword:" + std::to_string(c.stored) + "\n");
        EXPECT_EQ(Initialized(c.output8, c.output16, c.outputColour)->GetColorMode(), c.bits);
    }
}

// Before a camera opens, the filters come from camera 0's key. A missing "Gray" key gives gains
// and offsets of 128 and mode 0; in a "Filter" key that exists, a value that is missing or of the
// wrong size takes its default (the context's value before loading is 0, and a gamma or gain of 0
// would turn the picture black), and values outside their range are taken as the nearer end.
TEST(StoredFilters, MissingGrayKeyGivesItsDefaultsWrongSizesAreNotReadAndRangesClamp) {
    test::WriteSettingsFile(kSettingsHeader + kProductSection + CameraSection(0, "Filter") +
                            "\"Brightness\"=dword:ffffffec\n"
                            "\"Sharpness\"=dword:00000063\n"
                            "\"Gamma\"=hex:50,00\n"
                            "\"BayerMode\"=dword:00000001\n" +
                            CameraSection(-1, "Filter") + "\"Brightness\"=dword:00000007\n");
    const std::unique_ptr<CQuorix> context = Initialized(1, 1, 1);
    const ImageValues& image = context->Images();
    EXPECT_EQ(image.brightness, -20);
    EXPECT_EQ(image.bayerMode, 1);
    EXPECT_EQ(image.sharpness, 30);  // 99 is beyond 30
    EXPECT_EQ(image.gamma, 100);     // two bytes: not read, so its default, never 0
    EXPECT_EQ(image.contrast, 0);    // missing: its default
    EXPECT_EQ(image.bayerGainRed, 100);
    EXPECT_EQ(image.grayMode, 0);
    EXPECT_EQ(image.grayGain, (std::array<int32_t, 4>{128, 128, 128, 128}));
    EXPECT_EQ(image.grayOffset, (std::array<int32_t, 4>{128, 128, 128, 128}));
}

}  // namespace
}  // namespace quorix
