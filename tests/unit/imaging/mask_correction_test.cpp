// The raw-frame corrections against their formulas, at 8 and 16 bits: the flat field on random
// frames and planes of odd sizes (division toward zero, limits, dark = white left alone, window
// origin, margin, planes smaller than the window); the dot filter's threshold, its defect-map
// lookup at the window's sensor position and its replacement order along runs of marked pixels;
// the defect maps' levels and border.
#include "imaging/mask_correction.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <utility>
#include <vector>

namespace quorix {
namespace {

int32_t Sample(const CImageBuffer& image, int32_t x, int32_t y) {
    const uint8_t* p = image.Row(y) + static_cast<size_t>(x) * image.BytesPerPixel();
    return image.BitsPerPixel() == 8 ? p[0] : p[0] | (p[1] << 8);
}

void SetSample(CImageBuffer& image, int32_t x, int32_t y, int32_t value) {
    uint8_t* p = image.Row(y) + static_cast<size_t>(x) * image.BytesPerPixel();
    p[0] = static_cast<uint8_t>(value & 0xFF);
    if (image.BitsPerPixel() == 16) {
        p[1] = static_cast<uint8_t>(value >> 8);
    }
}

CImageBuffer* Make(CImageBuffer& image, int32_t width, int32_t height, int32_t bits) {
    EXPECT_TRUE(image.Create(width, height, static_cast<uint16_t>(bits)));
    return &image;
}

class MaskCorrection : public ::testing::TestWithParam<int32_t> {
protected:
    int32_t Bits() const { return GetParam(); }
    int32_t Max() const { return Bits() == 8 ? 255 : 65535; }
    int32_t Threshold() const { return Bits() == 8 ? 30 : 480; }
};

// A wrong sign, a missing limit, rounding toward minus infinity, a division where dark equals
// white, a plane read at the wrong place or beyond its edge, or a margin not left alone.
TEST_P(MaskCorrection, FlatFieldFollowsTheFormula) {
    struct Geometry {
        int32_t width, height, x0, y0, margin, planeWidth, planeHeight;
    };
    // Odd sizes; one tall enough to be split among threads; one reaching beyond the planes.
    const Geometry cases[] = {
        {37, 23, 5, 3, 0, 50, 30}, {131, 97, 1, 2, 2, 140, 100}, {29, 19, 4, 6, 0, 30, 20}};
    std::mt19937 random(12);
    for (const Geometry& g : cases) {
        CImageBuffer frame, dark, white;
        Make(frame, g.width, g.height, Bits());
        Make(dark, g.planeWidth, g.planeHeight, Bits());
        Make(white, g.planeWidth, g.planeHeight, Bits());
        std::uniform_int_distribution<int32_t> any(0, Max());
        for (int32_t y = 0; y < g.planeHeight; ++y) {
            for (int32_t x = 0; x < g.planeWidth; ++x) {
                const int32_t d = any(random);
                // Every kind of span: positive, negative, and now and then none.
                SetSample(dark, x, y, d);
                SetSample(white, x, y, (x + y) % 7 == 0 ? d : any(random));
            }
        }
        std::vector<int32_t> original;
        for (int32_t y = 0; y < g.height; ++y) {
            for (int32_t x = 0; x < g.width; ++x) {
                original.push_back(any(random));
                SetSample(frame, x, y, original.back());
            }
        }
        ApplyFlatField(frame, dark, white, g.x0, g.y0, g.margin);
        int mismatches = 0;
        for (int32_t y = 0; y < g.height; ++y) {
            for (int32_t x = 0; x < g.width; ++x) {
                const int64_t v = original[static_cast<size_t>(y * g.width + x)];
                int64_t expected = v;
                const bool inside = x >= g.margin && x < g.width - g.margin && y >= g.margin &&
                                    y < g.height - g.margin && g.x0 + x < g.planeWidth &&
                                    g.y0 + y < g.planeHeight;
                if (inside) {
                    const int64_t d = Sample(dark, g.x0 + x, g.y0 + y);
                    const int64_t w = Sample(white, g.x0 + x, g.y0 + y);
                    if (Bits() == 8 && w != d) {
                        expected = std::clamp<int64_t>((v - d) * 256 / (w - d), 0, 255);
                    } else if (Bits() == 16 && w > d) {
                        expected = std::clamp<int64_t>((v - d) * 65536 / (w - d), 0, 65535);
                    }
                }
                if (Sample(frame, x, y) != expected && ++mismatches <= 5) {
                    ADD_FAILURE() << g.width << "x" << g.height << " at (" << x << "," << y
                                  << "): " << Sample(frame, x, y) << ", expected " << expected;
                }
            }
        }
        EXPECT_EQ(mismatches, 0);
    }
}

// Detection compares with the mean of the four direct neighbours: a pixel the threshold above
// or below it is a dot and takes that mean; one a level short of it stays.
TEST_P(MaskCorrection, DotFilterReplacesPixelsFromTheThresholdOn) {
    const int32_t base = Max() / 3;
    CImageBuffer frame, hot, dead, dots;
    Make(frame, 20, 12, Bits());
    Make(hot, 64, 32, Bits());
    Make(dead, 64, 32, Bits());
    Make(dots, 64, 32, Bits());
    for (int32_t y = 0; y < 12; ++y) {
        for (int32_t x = 0; x < 20; ++x) {
            SetSample(frame, x, y, base);
        }
    }
    SetSample(frame, 4, 3, base + Threshold());
    SetSample(frame, 10, 3, base + Threshold() - 1);
    SetSample(frame, 15, 8, base - Threshold());
    ApplyDotFilter(frame, hot, dead, dots, 0, 0);
    EXPECT_EQ(Sample(frame, 4, 3), base);
    EXPECT_EQ(Sample(frame, 10, 3), base + Threshold() - 1);
    EXPECT_EQ(Sample(frame, 15, 8), base);
}

// The dot filter written from its description: detection by the maps at the sensor position
// and by the four-neighbour mean, then replacement in scan order from the first unmarked pixel
// in each direction, a replaced pixel counting as unmarked from then on.
std::vector<std::vector<int32_t>> ReferenceDots(const CImageBuffer& frame, const CImageBuffer& hot,
                                                const CImageBuffer& dead, int32_t x0, int32_t y0,
                                                int32_t threshold) {
    const int32_t w = frame.Width();
    const int32_t h = frame.Height();
    std::vector<std::vector<int32_t>> p(static_cast<size_t>(h), std::vector<int32_t>(w));
    std::vector<std::vector<bool>> marked(static_cast<size_t>(h), std::vector<bool>(w, false));
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) {
            p[y][x] = Sample(frame, x, y);
        }
    }
    for (int32_t y = 1; y < h - 1; ++y) {
        for (int32_t x = 1; x < w - 1; ++x) {
            const int32_t mean = (p[y][x - 1] + p[y][x + 1] + p[y - 1][x] + p[y + 1][x]) >> 2;
            marked[y][x] = Sample(hot, x0 + x, y0 + y) != 0 || Sample(dead, x0 + x, y0 + y) != 0 ||
                           std::abs(p[y][x] - mean) >= threshold;
        }
    }
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) {
            if (!marked[y][x]) {
                continue;
            }
            int32_t sum = 0;
            int32_t n = 0;
            const auto take = [&](int32_t cx, int32_t cy) {
                if (!marked[cy][cx]) {
                    sum += p[cy][cx];
                    ++n;
                    return true;
                }
                return false;
            };
            for (int32_t i = x - 1; i >= 0 && !take(i, y); --i) {
            }
            for (int32_t i = x + 1; i < w && !take(i, y); ++i) {
            }
            for (int32_t j = y - 1; j >= 0 && !take(x, j); --j) {
            }
            for (int32_t j = y + 1; j < h && !take(x, j); ++j) {
            }
            if (n > 0) {
                p[y][x] = sum / n;
            }
            marked[y][x] = false;
        }
    }
    return p;
}

int CountDifferences(const CImageBuffer& frame, const std::vector<std::vector<int32_t>>& expected) {
    int differences = 0;
    for (int32_t y = 0; y < frame.Height(); ++y) {
        for (int32_t x = 0; x < frame.Width(); ++x) {
            if (Sample(frame, x, y) != expected[y][x] && ++differences <= 5) {
                ADD_FAILURE() << "at (" << x << "," << y << "): " << Sample(frame, x, y)
                              << ", expected " << expected[y][x];
            }
        }
    }
    return differences;
}

// Runs of marked pixels taken from the defect maps at the window's sensor position: each marked
// pixel takes the mean of the first unmarked pixel to its left, right, above and below, and the
// pixels replaced before it in scan order count with their new values. The frame is a plane
// (v = a + b x + c y), which no pixel stands out of, so only the maps mark.
TEST_P(MaskCorrection, DotFilterFillsRunsOfMarkedPixelsInScanOrder) {
    constexpr int32_t kX0 = 6;  // window origin on the sensor
    constexpr int32_t kY0 = 4;
    const int32_t scale = Bits() == 8 ? 1 : 16;
    const auto plane = [&](int32_t x, int32_t y) { return (40 + 3 * x + 7 * y) * scale; };
    CImageBuffer frame, hot, dead, dots;
    Make(frame, 16, 10, Bits());
    Make(hot, 64, 32, Bits());
    Make(dead, 64, 32, Bits());
    Make(dots, 64, 32, Bits());
    for (int32_t y = 0; y < 10; ++y) {
        for (int32_t x = 0; x < 16; ++x) {
            SetSample(frame, x, y, plane(x, y));
        }
    }
    // Frame row 4, columns 3..8 hot; row 5, columns 6..10 dead, under part of the first run.
    for (int32_t x = 3; x <= 8; ++x) {
        SetSample(hot, kX0 + x, kY0 + 4, 1);
    }
    for (int32_t x = 6; x <= 10; ++x) {
        SetSample(dead, kX0 + x, kY0 + 5, 1);
    }
    // A map entry at the frame's own position, not its sensor position, must not count: the
    // pixel there stands out by a level less than the threshold and keeps its value.
    SetSample(hot, 12, 2, 1);
    SetSample(frame, 12, 2, plane(12, 2) + Threshold() - 1);

    const auto expected = ReferenceDots(frame, hot, dead, kX0, kY0, Threshold());
    // The first pixel of the upper run by hand: left (2,4), right (9,4), up (3,3), down (3,5).
    EXPECT_EQ(expected[4][3], (plane(2, 4) + plane(9, 4) + plane(3, 3) + plane(3, 5)) / 4);
    EXPECT_EQ(expected[2][12], plane(12, 2) + Threshold() - 1);
    ApplyDotFilter(frame, hot, dead, dots, kX0, kY0);
    EXPECT_EQ(CountDifferences(frame, expected), 0);
}

// Frames of odd sizes, wide enough for the vector kernels and tall enough to be split among
// threads: a slope with noise below the threshold, spikes above it (sparse, and crowded in a
// band of rows), scattered map defects.
TEST_P(MaskCorrection, DotFilterMatchesItsDescriptionOnRandomFrames) {
    std::mt19937 random(7);
    std::uniform_int_distribution<int32_t> noise(-Threshold() / 3, Threshold() / 3);
    std::uniform_int_distribution<int32_t> percent(0, 99);
    for (const auto& [width, height] : {std::pair{77, 41}, std::pair{203, 131}}) {
        constexpr int32_t kX0 = 10;
        constexpr int32_t kY0 = 6;
        CImageBuffer frame, hot, dead, dots;
        Make(frame, width, height, Bits());
        Make(hot, 256, 160, Bits());
        Make(dead, 256, 160, Bits());
        Make(dots, 256, 160, Bits());
        for (int32_t y = 0; y < height; ++y) {
            for (int32_t x = 0; x < width; ++x) {
                int32_t v = Max() / 4 + (x + 2 * y) * Max() / 1024 + noise(random);
                // A band of rows as crowded with dots as a colour mosaic, the rest sparse.
                const int32_t spikes = y >= height / 3 && y < height / 2 ? 40 : 3;
                if (percent(random) < spikes) {
                    v += percent(random) < 50 ? Max() / 2 : -Max() / 8;
                }
                SetSample(frame, x, y, std::clamp(v, 0, Max()));
                if (percent(random) < 2) {
                    SetSample(percent(random) < 50 ? hot : dead, kX0 + x, kY0 + y, 1);
                }
            }
        }
        const auto expected = ReferenceDots(frame, hot, dead, kX0, kY0, Threshold());
        ApplyDotFilter(frame, hot, dead, dots, kX0, kY0);
        EXPECT_EQ(CountDifferences(frame, expected), 0) << width << "x" << height;
    }
}

// A hot pixel reads above 192 (16 bits: 12288) in the dark plane, a dead one below 64 (4096) in
// the white plane; the two outer rows and columns never mark.
TEST_P(MaskCorrection, DefectMapsMarkBeyondTheLevelsInsideTheBorder) {
    const int32_t hotLevel = Bits() == 8 ? 192 : 12288;
    const int32_t deadLevel = Bits() == 8 ? 64 : 4096;
    CImageBuffer darkPlane, whitePlane, hotMap, deadMap;
    Make(darkPlane, 12, 10, Bits());
    Make(whitePlane, 12, 10, Bits());
    Make(hotMap, 12, 10, Bits());
    Make(deadMap, 12, 10, Bits());
    for (int32_t y = 0; y < 10; ++y) {
        for (int32_t x = 0; x < 12; ++x) {
            SetSample(whitePlane, x, y, Max());
        }
    }
    SetSample(darkPlane, 4, 4, hotLevel);
    SetSample(darkPlane, 5, 4, hotLevel + 1);
    SetSample(darkPlane, 1, 5, Max());  // border column
    SetSample(darkPlane, 6, 8, Max());  // border row (height - 2)
    SetSample(whitePlane, 4, 6, deadLevel);
    SetSample(whitePlane, 5, 6, deadLevel - 1);
    SetSample(whitePlane, 10, 3, 0);  // border column (width - 2)
    DeriveDefectMap(hotMap, darkPlane, true);
    DeriveDefectMap(deadMap, whitePlane, false);
    for (int32_t y = 0; y < 10; ++y) {
        for (int32_t x = 0; x < 12; ++x) {
            EXPECT_EQ(Sample(hotMap, x, y), x == 5 && y == 4 ? 1 : 0) << x << "," << y;
            EXPECT_EQ(Sample(deadMap, x, y), x == 5 && y == 6 ? 1 : 0) << x << "," << y;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Depths, MaskCorrection, ::testing::Values(8, 16),
                         [](const ::testing::TestParamInfo<int32_t>& info) {
                             return "Bits" + std::to_string(info.param);
                         });

}  // namespace
}  // namespace quorix
