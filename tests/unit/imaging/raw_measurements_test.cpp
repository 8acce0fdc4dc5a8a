// What the frame routine measures and changes on the raw mosaic: the auto-iris regions and their
// factor, the automatic Bayer gains and the one-shot gray gains (with colours that have no light),
// and the gray step's gains and offsets.
#include "imaging/raw_measurements.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <functional>

namespace quorix {
namespace {

// A raw frame whose sample at (x, y) is value(x, y) on the 8-bit scale; 16-bit frames hold it in
// the high byte (with a low byte that must not count).
void MakeRaw(CImageBuffer& raw, int32_t width, int32_t height, bool wide,
             const std::function<uint32_t(int32_t, int32_t)>& value) {
    ASSERT_TRUE(raw.Create(width, height, wide ? 16 : 8));
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            const uint32_t v = value(x, y);
            if (wide) {
                raw.Row(y)[2 * x] = 0xC3;
                raw.Row(y)[2 * x + 1] = static_cast<uint8_t>(v);
            } else {
                raw.Row(y)[x] = static_cast<uint8_t>(v);
            }
        }
    }
}

uint32_t Sample(const CImageBuffer& raw, int32_t x, int32_t y) {
    if (raw.BitsPerPixel() == 8) {
        return raw.Row(y)[x];
    }
    return static_cast<uint32_t>(raw.Row(y)[2 * x] | (raw.Row(y)[2 * x + 1] << 8));
}

// The five regions as bitmaps count rows (from the bottom): A and D in the picture's lower part,
// B and E in its upper part, C in the centre; each mean on the 8-bit scale at either depth. Then
// the factor: one bright region and four dark ones, and the band in which nothing changes.
TEST(RawMeasurements, AutoIrisRegionsAndFactor) {
    constexpr int32_t kWidth = 200;
    constexpr int32_t kHeight = 100;
    // Tens of the picture: column tenth tx, row tenth ty (from the top) gets 10 tx + ty + 1.
    const auto value = [](int32_t x, int32_t y) {
        return static_cast<uint32_t>(10 * (x * 10 / kWidth) + y * 10 / kHeight + 1);
    };
    for (const bool wide : {false, true}) {
        CImageBuffer raw;
        ASSERT_NO_FATAL_FAILURE(MakeRaw(raw, kWidth, kHeight, wide, value));
        // A: columns 20..39, rows 80..89 from the top; B: rows 10..19; C: columns 90..109, rows
        // 45..54 (two tenths); D, E: columns 160..179.
        const std::array<int32_t, 5> expected = {10 * 1 + 8 + 1, 10 * 1 + 1 + 1,
                                                 (45 + 46 + 55 + 56) * 100 / 400, 10 * 8 + 8 + 1,
                                                 10 * 8 + 1 + 1};
        EXPECT_EQ(AutoIrisMeans(raw), expected) << (wide ? "16-bit" : "8-bit");
    }
    EXPECT_EQ(AutoIrisFactor({250, 50, 50, 50, 50}), 85 + 4 * 5);
    EXPECT_EQ(AutoIrisFactor({50, 201, 161, 160, 100}), 105 - 15 - 10);
    EXPECT_TRUE(AutoIrisActs(AutoIrisFactor({10, 10, 10, 10, 10})));       // 1.25: brighter
    EXPECT_TRUE(AutoIrisActs(AutoIrisFactor({255, 255, 255, 255, 255})));  // 0.25: darker
    EXPECT_FALSE(AutoIrisActs(AutoIrisFactor({120, 120, 120, 120, 120})));
}

// Every one of the 4^5 ways the five regions can fall into their brightness classes: the camera
// is corrected exactly when the factor is 0.6 or less, or 1.2 or more. Sums such as
// 0.9 - 0.1 - 0.1 - 0.1 land on 0.6 exactly; counted in floating point they came out a hair above
// it, and 25 of the combinations never corrected a bright scene.
TEST(RawMeasurements, AutoIrisActsOnItsLimitsInEveryCombination) {
    // A region's class by a mean on one of its thresholds, and what it does to the factor
    // [hundredths]: region A sets the start, regions B to E add or take away.
    constexpr std::array<int32_t, 4> kMeans = {201, 161, 160, 99};
    constexpr std::array<int32_t, 4> kStart = {85, 90, 100, 105};
    constexpr std::array<int32_t, 4> kStep = {-15, -10, 0, 5};
    int atLowerLimit = 0;
    int atUpperLimit = 0;
    for (int combination = 0; combination < 1024; ++combination) {
        std::array<int32_t, 5> means{};
        int32_t hundredths = 0;
        for (size_t region = 0; region < 5; ++region) {
            const auto cls = static_cast<size_t>((combination >> (2 * region)) & 3);
            means[region] = kMeans[cls];
            hundredths += region == 0 ? kStart[cls] : kStep[cls];
        }
        atLowerLimit += hundredths == 60 ? 1 : 0;
        atUpperLimit += hundredths == 120 ? 1 : 0;
        EXPECT_EQ(AutoIrisActs(AutoIrisFactor(means)), hundredths <= 60 || hundredths >= 120)
            << "means " << means[0] << " " << means[1] << " " << means[2] << " " << means[3] << " "
            << means[4] << ": factor " << hundredths << " hundredths";
    }
    EXPECT_GT(atLowerLimit, 0);
    EXPECT_GT(atUpperLimit, 0);
}

// Bayer gains from the mosaic's means in the effective phase (green 100 x G / R, at most 400);
// a colour with no light at all keeps its gain instead of dividing by zero. The one-shot gray
// gains: means of the samples strictly between 0 and 255 per site, G1 the reference; 16-bit
// frames by their high byte, giving the same gains; a site without such samples keeps its gain.
TEST(RawMeasurements, ColourGainsAndSitesWithoutLight) {
    // Phase 3 (G R / B G): red at odd columns of even rows, blue at even columns of odd rows.
    const auto mosaic = [](uint32_t red, uint32_t green, uint32_t blue) {
        return [=](int32_t x, int32_t y) {
            if ((y & 1) == 0) {
                return (x & 1) == 0 ? green : red;
            }
            return (x & 1) == 0 ? blue : green;
        };
    };
    CImageBuffer raw;
    ASSERT_NO_FATAL_FAILURE(MakeRaw(raw, 10, 6, false, mosaic(50, 100, 200)));
    int32_t red = 7;
    int32_t blue = 7;
    MeasureBayerGains(raw, 3, red, blue);
    EXPECT_EQ(red, 200);
    EXPECT_EQ(blue, 50);
    ASSERT_NO_FATAL_FAILURE(MakeRaw(raw, 10, 6, false, mosaic(0, 100, 20)));
    red = 123;
    MeasureBayerGains(raw, 3, red, blue);
    EXPECT_EQ(red, 123) << "no red light: the red gain stays";
    EXPECT_EQ(blue, 400) << "limited to 400";

    // Gray sites in Bayer mode 0 (G B / R G): G2, the green beside blue, at even rows and
    // columns, B at even rows and odd columns, R at odd rows and even columns, G1, the green
    // beside red, at odd rows and columns.
    const auto sites = [](uint32_t r, uint32_t g1, uint32_t g2, uint32_t b) {
        return [=](int32_t x, int32_t y) {
            if ((y & 1) == 0) {
                return (x & 1) == 0 ? g2 : b;
            }
            return (x & 1) == 0 ? r : g1;
        };
    };
    for (const bool wide : {false, true}) {
        ASSERT_NO_FATAL_FAILURE(MakeRaw(raw, 8, 4, wide, sites(60, 120, 100, 255)));
        std::array<int32_t, 4> gains = {1, 2, 3, 77};
        MeasureGrayGains(raw, 0, gains);
        // R: 120 / 60 x 128; G2: 120 / 100 x 128 = 153.6; B only 255s: kept.
        EXPECT_EQ(gains, (std::array<int32_t, 4>{255, 128, 153, 77})) << wide;
        ASSERT_NO_FATAL_FAILURE(MakeRaw(raw, 8, 4, wide, sites(60, 0, 100, 90)));
        gains = {1, 2, 3, 4};
        MeasureGrayGains(raw, 0, gains);
        EXPECT_EQ(gains, (std::array<int32_t, 4>{1, 2, 3, 4})) << "no G1 reference: unchanged";
    }
}

// The gray step: with every gain and the offsets R, G1, G2 at 128 it is off (the B offset does
// not count); one gain at 129 makes it run, adding every site's offset as it is to
// v x gain / 128, limited to the sample's range.
TEST(RawMeasurements, GrayGainsAndOffsets) {
    std::array<int32_t, 4> gains = {128, 128, 128, 128};
    std::array<int32_t, 4> offsets = {128, 128, 128, -40};
    EXPECT_FALSE(GrayStepActive(gains, offsets));
    gains[kGrayG2] = 129;
    EXPECT_TRUE(GrayStepActive(gains, offsets));
    gains = {64, 128, 255, 0};
    offsets = {-10, 128, 3, 200};
    for (const bool wide : {false, true}) {
        CImageBuffer raw;
        ASSERT_NO_FATAL_FAILURE(MakeRaw(raw, 6, 4, wide, [](int32_t x, int32_t y) {
            return static_cast<uint32_t>(40 * x + y);
        }));
        CImageBuffer before;
        ASSERT_NO_FATAL_FAILURE(MakeRaw(before, 6, 4, wide, [](int32_t x, int32_t y) {
            return static_cast<uint32_t>(40 * x + y);
        }));
        // Bayer mode 2 (B G / G R): row 0 is B G2 B G2 ..., row 1 G1 R G1 R ...
        ApplyGrayGains(raw, 2, gains, offsets);
        const int32_t top = wide ? 65535 : 255;
        for (int32_t y = 0; y < 4; ++y) {
            for (int32_t x = 0; x < 6; ++x) {
                const GraySite site = (y & 1) == 0 ? ((x & 1) == 0 ? kGrayB : kGrayG2)
                                                   : ((x & 1) == 0 ? kGrayG1 : kGrayR);
                ASSERT_EQ(GraySiteAt(x, y, 2), site);
                const auto v = static_cast<int32_t>(Sample(before, x, y));
                const int32_t expected = std::clamp(offsets[site] + v * gains[site] / 128, 0, top);
                EXPECT_EQ(Sample(raw, x, y), static_cast<uint32_t>(expected))
                    << (wide ? "16" : "8") << "-bit at " << x << "," << y;
            }
        }
    }
}

}  // namespace
}  // namespace quorix
