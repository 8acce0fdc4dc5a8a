// Bayer demosaicing against a plain reference written from the kernel's formulas: phase flips,
// fixed-point gains, interior and border pixels, saturation instead of wrap-around, and the
// channels and padding it must leave alone.
#include "imaging/demosaic.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "imaging/pixel_operations.h"

namespace quorix {
namespace {

// Colours of the mosaic: row parity rp and column parity cp after the phase's flips.
enum class Site { kRed, kGreen, kBlue };

Site SiteAt(int32_t column, int32_t row, int32_t phase) {
    const int32_t rp = (row % 2) ^ (phase & 1);
    const int32_t cp = (column % 2) ^ (phase >> 1);
    if (rp == cp) {
        return Site::kGreen;
    }
    return rp == 1 ? Site::kRed : Site::kBlue;
}

// The reference: the raw frame as plain numbers, neighbours beyond an edge taken four steps in.
struct Reference {
    int32_t width;
    int32_t height;
    std::vector<uint32_t> samples;  // row-major
    uint32_t maxValue;

    uint32_t At(int32_t column, int32_t row) const {
        if (column < 0) {
            column += 4;
        }
        if (column >= width) {
            column -= 4;
        }
        if (row < 0) {
            row += 4;
        }
        if (row >= height) {
            row -= 4;
        }
        return samples[static_cast<size_t>(row) * width + column];
    }

    // One channel of pixel (x, y): the cell's sample of that colour weighted 9, its row and
    // column neighbours of the same colour across the cell 3 each, the diagonal one 1.
    uint32_t Interpolated(int32_t x, int32_t y, Site colour, int32_t phase, int32_t gain) const {
        for (int32_t cy = y - 1; cy <= y; ++cy) {
            for (int32_t cx = x - 1; cx <= x; ++cx) {
                if (SiteAt(cx + 4, cy + 4, phase) != colour) {
                    continue;
                }
                const int32_t ox = cx == x ? cx - 2 : cx + 2;
                const int32_t oy = cy == y ? cy - 2 : cy + 2;
                const uint64_t sum =
                    9 * At(cx, cy) + 3 * At(ox, cy) + 3 * At(cx, oy) + 1 * At(ox, oy);
                const auto k = static_cast<uint64_t>(gain * 1.28);
                return static_cast<uint32_t>(std::min<uint64_t>((sum * k) >> 11, maxValue));
            }
        }
        ADD_FAILURE() << "no sample of the colour in the cell";
        return 0;
    }

    uint32_t Green(int32_t x, int32_t y, int32_t phase) const {
        uint32_t sum = 0;
        for (int32_t cy = y - 1; cy <= y; ++cy) {
            for (int32_t cx = x - 1; cx <= x; ++cx) {
                if (SiteAt(cx + 4, cy + 4, phase) == Site::kGreen) {
                    sum += At(cx, cy);
                }
            }
        }
        return std::min(sum / 2, maxValue);
    }
};

uint32_t Lcg(uint32_t& state) {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
}

uint32_t ReadChannel(const uint8_t* pixel, int32_t channel, bool wide) {
    return wide ? static_cast<uint32_t>(pixel[channel * 2] | (pixel[channel * 2 + 1] << 8))
                : pixel[channel];
}

void WriteSample(CImageBuffer& raw, int32_t x, int32_t y, uint32_t value) {
    if (raw.BitsPerPixel() == 8) {
        raw.Row(y)[x] = static_cast<uint8_t>(value);
    } else {
        raw.Row(y)[x * 2] = static_cast<uint8_t>(value & 0xFF);
        raw.Row(y)[x * 2 + 1] = static_cast<uint8_t>(value >> 8);
    }
}

struct DemosaicCase {
    uint16_t inBits;
    uint16_t outBits;
    int32_t width;
    int32_t height;
    int32_t redGain;
    int32_t blueGain;
};

std::string Name(const ::testing::TestParamInfo<DemosaicCase>& info) {
    const DemosaicCase& c = info.param;
    return std::to_string(c.inBits) + "to" + std::to_string(c.outBits) + "_" +
           std::to_string(c.width) + "x" + std::to_string(c.height) + "_r" +
           std::to_string(c.redGain) + "_b" + std::to_string(c.blueGain);
}

class DemosaicMatrix : public ::testing::TestWithParam<DemosaicCase> {};

// Every pixel, interior and border, in every phase, byte for byte against the reference; a
// fourth channel and the row padding keep what they held.
TEST_P(DemosaicMatrix, MatchesTheReferenceEverywhere) {
    const DemosaicCase c = GetParam();
    const bool wide = c.inBits == 16;
    CImageBuffer raw;
    ASSERT_TRUE(raw.Create(c.width, c.height, c.inBits));
    Reference reference{c.width, c.height, {}, wide ? 65535u : 255u};
    uint32_t state = 12345u + static_cast<uint32_t>(c.width * 31 + c.redGain);
    for (int32_t y = 0; y < c.height; ++y) {
        for (int32_t x = 0; x < c.width; ++x) {
            const uint32_t value = Lcg(state) & reference.maxValue;
            reference.samples.push_back(value);
            WriteSample(raw, x, y, value);
        }
    }
    for (int32_t phase = 0; phase < 4; ++phase) {
        CImageBuffer colour;
        ASSERT_TRUE(colour.Create(c.width, c.height, c.outBits));
        std::fill(colour.Bits(), colour.Bits() + colour.SizeBytes(), uint8_t{0x5A});
        ASSERT_TRUE(Demosaic(colour, raw, phase, c.redGain, c.blueGain));
        const int32_t pixelBytes = c.outBits / 8;
        const int32_t channelBytes = wide ? 2 : 1;
        for (int32_t y = 0; y < c.height; ++y) {
            for (int32_t x = 0; x < c.width; ++x) {
                const uint8_t* pixel = colour.Row(y) + x * pixelBytes;
                const uint32_t expected[3] = {
                    reference.Interpolated(x, y, Site::kBlue, phase, c.blueGain),
                    reference.Green(x, y, phase),
                    reference.Interpolated(x, y, Site::kRed, phase, c.redGain)};
                for (int32_t ch = 0; ch < 3; ++ch) {
                    ASSERT_EQ(ReadChannel(pixel, ch, wide), expected[ch])
                        << "phase " << phase << " x " << x << " y " << y << " channel " << ch;
                }
                for (int32_t b = 3 * channelBytes; b < pixelBytes; ++b) {
                    ASSERT_EQ(pixel[b], 0x5A) << "fourth channel written at " << x << "," << y;
                }
            }
            for (int32_t b = c.width * pixelBytes; b < colour.Stride(); ++b) {
                ASSERT_EQ(colour.Row(y)[b], 0x5A) << "padding written in row " << y;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    FormatsSizesGains, DemosaicMatrix,
    ::testing::Values(DemosaicCase{8, 24, 4, 4, 100, 100}, DemosaicCase{8, 24, 5, 7, 100, 100},
                      DemosaicCase{8, 24, 13, 9, 37, 250}, DemosaicCase{8, 24, 8, 6, 400, 0},
                      DemosaicCase{8, 32, 7, 5, 100, 100}, DemosaicCase{8, 32, 10, 11, 163, 71},
                      DemosaicCase{16, 48, 4, 5, 100, 100}, DemosaicCase{16, 48, 9, 8, 400, 1},
                      DemosaicCase{16, 48, 11, 6, 57, 333}, DemosaicCase{16, 64, 6, 4, 100, 100},
                      DemosaicCase{16, 64, 12, 9, 250, 400}),
    Name);

// Rows long enough for the vector kernel (32 or 16 pixels a step) with tails of every length it
// leaves to the plain kernels, and a full sensor row with gains that saturate.
INSTANTIATE_TEST_SUITE_P(
    WideRows, DemosaicMatrix,
    ::testing::Values(DemosaicCase{8, 24, 100, 6, 100, 100}, DemosaicCase{8, 24, 67, 5, 163, 71},
                      DemosaicCase{8, 32, 131, 6, 250, 37}, DemosaicCase{8, 24, 2048, 5, 400, 0},
                      DemosaicCase{8, 32, 2048, 4, 0, 400}, DemosaicCase{16, 48, 75, 6, 100, 100},
                      DemosaicCase{16, 48, 2048, 5, 400, 57}, DemosaicCase{16, 64, 66, 5, 37, 250},
                      DemosaicCase{16, 64, 2047, 4, 100, 400}, DemosaicCase{8, 24, 34, 5, 100, 163},
                      DemosaicCase{8, 32, 49, 4, 400, 100}, DemosaicCase{8, 24, 52, 4, 71, 250},
                      DemosaicCase{16, 48, 19, 5, 163, 100}, DemosaicCase{16, 64, 27, 4, 100, 71},
                      DemosaicCase{16, 48, 36, 4, 250, 400}),
    Name);

// Frames tall enough to be split into bands of rows for the processors: the band edges must not
// show, whichever rows a band starts and ends on.
INSTANTIATE_TEST_SUITE_P(RowBands, DemosaicMatrix,
                         ::testing::Values(DemosaicCase{8, 24, 1024, 67, 100, 100},
                                           DemosaicCase{8, 32, 640, 130, 250, 37},
                                           DemosaicCase{16, 48, 512, 99, 37, 400},
                                           DemosaicCase{16, 64, 256, 64, 100, 100}),
                         Name);

// A flat gray scene must stay neutral with unit gains, borders included, at any size the kernel
// can meet, including frames too small for the four-step border rule.
TEST(Demosaic, UniformGrayStaysGray) {
    const std::vector<std::pair<int32_t, int32_t>> sizes = {{1, 1}, {2, 3}, {3, 3}, {3, 5},
                                                            {4, 4}, {6, 5}, {17, 9}};
    struct Format {
        uint16_t inBits;
        uint16_t outBits;
        std::vector<uint32_t> levels;
    };
    const std::vector<Format> formats = {{8, 24, {0, 77, 255}},
                                         {8, 32, {1, 200}},
                                         {16, 48, {0, 0x1234, 65535}},
                                         {16, 64, {300, 65534}}};
    for (const Format& format : formats) {
        for (const auto& [width, height] : sizes) {
            for (const uint32_t level : format.levels) {
                CImageBuffer raw;
                ASSERT_TRUE(raw.Create(width, height, format.inBits));
                for (int32_t y = 0; y < height; ++y) {
                    for (int32_t x = 0; x < width; ++x) {
                        WriteSample(raw, x, y, level);
                    }
                }
                for (int32_t phase = 0; phase < 4; ++phase) {
                    CImageBuffer colour;
                    ASSERT_TRUE(colour.Create(width, height, format.outBits));
                    ASSERT_TRUE(Demosaic(colour, raw, phase, 100, 100));
                    const bool wide = format.inBits == 16;
                    for (int32_t y = 0; y < height; ++y) {
                        for (int32_t x = 0; x < width; ++x) {
                            const uint8_t* pixel = colour.Row(y) + x * (format.outBits / 8);
                            for (int32_t ch = 0; ch < 3; ++ch) {
                                ASSERT_EQ(ReadChannel(pixel, ch, wide), level)
                                    << width << "x" << height << " phase " << phase << " at " << x
                                    << "," << y;
                            }
                        }
                    }
                }
            }
        }
    }
}

// Full-scale samples with the largest gain must clip at the top of the scale, never wrap.
TEST(Demosaic, SaturatesInsteadOfWrapping) {
    for (const uint16_t inBits : {8, 16}) {
        const uint32_t top = inBits == 8 ? 255u : 65535u;
        CImageBuffer raw;
        ASSERT_TRUE(raw.Create(9, 7, inBits));
        for (int32_t y = 0; y < 7; ++y) {
            for (int32_t x = 0; x < 9; ++x) {
                WriteSample(raw, x, y, top);
            }
        }
        CImageBuffer colour;
        ASSERT_TRUE(colour.Create(9, 7, inBits == 8 ? 24 : 48));
        ASSERT_TRUE(Demosaic(colour, raw, 3, 400, 400));
        for (int32_t y = 0; y < 7; ++y) {
            for (int32_t x = 0; x < 9; ++x) {
                const uint8_t* pixel = colour.Row(y) + x * (inBits == 8 ? 3 : 6);
                for (int32_t ch = 0; ch < 3; ++ch) {
                    ASSERT_EQ(ReadChannel(pixel, ch, inBits == 16), top) << x << "," << y;
                }
            }
        }
    }
}

// The Bayer modes name which colour sits where, counted from the top-left sample. A frame with
// one level per colour must come out as exactly that colour in every pixel.
TEST(Demosaic, BayerModesPlaceColoursAsNamed) {
    const char* const layouts[4][2] = {{"GB", "RG"}, {"RG", "GB"}, {"BG", "GR"}, {"GR", "BG"}};
    const uint32_t red = 200;
    const uint32_t green = 120;
    const uint32_t blue = 40;
    for (int32_t mode = 0; mode < 4; ++mode) {
        CImageBuffer raw;
        ASSERT_TRUE(raw.Create(10, 8, 8));
        for (int32_t y = 0; y < 8; ++y) {
            for (int32_t x = 0; x < 10; ++x) {
                const char site = layouts[mode][y % 2][x % 2];
                WriteSample(raw, x, y, site == 'R' ? red : site == 'G' ? green : blue);
            }
        }
        CImageBuffer colour;
        ASSERT_TRUE(colour.Create(10, 8, 24));
        ASSERT_TRUE(
            Demosaic(colour, raw, EffectiveBayerPhase(mode, false, false, false), 100, 100));
        for (int32_t y = 0; y < 8; ++y) {
            for (int32_t x = 0; x < 10; ++x) {
                const uint8_t* pixel = colour.Row(y) + x * 3;
                ASSERT_EQ(pixel[0], blue) << "mode " << mode << " at " << x << "," << y;
                ASSERT_EQ(pixel[1], green) << "mode " << mode << " at " << x << "," << y;
                ASSERT_EQ(pixel[2], red) << "mode " << mode << " at " << x << "," << y;
            }
        }

        // Gray mode 2 follows the demosaic with the luminance step.
        CImageBuffer gray;
        ASSERT_TRUE(gray.Create(10, 8, 8));
        ASSERT_EQ(CImageBuffer::ApplyPixelOperation(gray, Luminance, colour, nullptr, 0, 0, 0, 0),
                  1);
        const uint32_t luminance = (30 * red + 59 * green + 11 * blue) / 100;
        for (int32_t y = 0; y < 8; ++y) {
            for (int32_t x = 0; x < 10; ++x) {
                ASSERT_EQ(gray.Row(y)[x], luminance) << x << "," << y;
            }
        }
    }
}

// Mirroring flips the mosaic's parities: vertical and sub-sampling the rows, horizontal the
// columns.
TEST(Demosaic, EffectivePhaseFollowsMirrorsAndSubSampling) {
    const int32_t flipRows[4] = {1, 0, 3, 2};
    const int32_t flipColumns[4] = {2, 3, 0, 1};
    EXPECT_EQ(EffectiveBayerPhase(0, true, false, false), 1);
    for (int32_t mode = 0; mode < 4; ++mode) {
        for (int32_t flags = 0; flags < 8; ++flags) {
            const bool vertical = (flags & 1) != 0;
            const bool horizontal = (flags & 2) != 0;
            const bool subSampling = (flags & 4) != 0;
            int32_t expected = mode;
            if (vertical) {
                expected = flipRows[expected];
            }
            if (horizontal) {
                expected = flipColumns[expected];
            }
            if (subSampling) {
                expected = flipRows[expected];
            }
            EXPECT_EQ(EffectiveBayerPhase(mode, vertical, horizontal, subSampling), expected)
                << "mode " << mode << " flags " << flags;
        }
    }
}

// The gains are percent scaled by 1.28 and truncated; out-of-range percentages are clamped.
TEST(Demosaic, GainsBecomeFixedPoint) {
    for (int32_t percent = 0; percent <= 400; ++percent) {
        ASSERT_EQ(BayerGainFixed(percent), static_cast<uint32_t>(percent * 1.28)) << percent;
    }
    EXPECT_EQ(BayerGainFixed(100), 128u);
    EXPECT_EQ(BayerGainFixed(-20), 0u);
    EXPECT_EQ(BayerGainFixed(1000), 512u);
}

// Formats or sizes that do not pair up must leave the destination as it was.
TEST(Demosaic, RefusesMismatchedImages) {
    CImageBuffer raw8;
    ASSERT_TRUE(raw8.Create(6, 6, 8));
    CImageBuffer raw16;
    ASSERT_TRUE(raw16.Create(6, 6, 16));
    CImageBuffer deep;
    ASSERT_TRUE(deep.Create(6, 6, 48));
    CImageBuffer narrow;
    ASSERT_TRUE(narrow.Create(5, 6, 24));
    CImageBuffer rgb;
    ASSERT_TRUE(rgb.Create(6, 6, 24));
    CImageBuffer empty;
    std::fill(raw8.Bits(), raw8.Bits() + raw8.SizeBytes(), uint8_t{9});
    EXPECT_FALSE(Demosaic(deep, raw8, 0, 100, 100));
    EXPECT_FALSE(Demosaic(rgb, raw16, 0, 100, 100));
    EXPECT_FALSE(Demosaic(narrow, raw8, 0, 100, 100));
    EXPECT_FALSE(Demosaic(rgb, empty, 0, 100, 100));
    EXPECT_FALSE(Demosaic(empty, raw8, 0, 100, 100));
    EXPECT_FALSE(Demosaic(raw8, raw8, 0, 100, 100));
    for (size_t i = 0; i < rgb.SizeBytes(); ++i) {
        ASSERT_EQ(rgb.Bits()[i], 0);
    }
    for (size_t i = 0; i < deep.SizeBytes(); ++i) {
        ASSERT_EQ(deep.Bits()[i], 0);
    }
}

}  // namespace
}  // namespace quorix
