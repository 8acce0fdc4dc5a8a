// The image adjustments against references written from their formulas (gamma, contrast and
// brightness tables, the unsharp mask on a step edge, the hue circle on pure colours, saturation
// down to gray), their edge cases, and the fast adjuster byte for byte against the plain steps on
// random frames of odd sizes in every depth (run again by ctest with the vector code off and on
// one thread).
#include "imaging/adjustments.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "imaging/adjustment_rows.h"
#include "imaging/demosaic.h"
#include "imaging/image_adjuster.h"

namespace quorix {
namespace {

uint32_t Lcg(uint32_t& state) {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
}

bool IsWide(const CImageBuffer& image) {
    return image.BitsPerPixel() == 16 || image.BitsPerPixel() >= 48;
}
int32_t Channels(const CImageBuffer& image) {
    return image.BitsPerPixel() <= 16 ? 1 : 3;
}

// Channel c of pixel (x, y), and writing it.
uint32_t Get(const CImageBuffer& image, int32_t x, int32_t y, int32_t c) {
    const int32_t channelBytes = IsWide(image) ? 2 : 1;
    const uint8_t* p = image.Row(y) + x * image.BytesPerPixel() + c * channelBytes;
    return channelBytes == 1 ? p[0] : static_cast<uint32_t>(p[0] | (p[1] << 8));
}
void Put(CImageBuffer& image, int32_t x, int32_t y, int32_t c, uint32_t value) {
    const int32_t channelBytes = IsWide(image) ? 2 : 1;
    uint8_t* p = image.Row(y) + x * image.BytesPerPixel() + c * channelBytes;
    p[0] = static_cast<uint8_t>(value & 0xFF);
    if (channelBytes == 2) {
        p[1] = static_cast<uint8_t>(value >> 8);
    }
}

// An image whose every byte (padding included) is random.
void FillRandom(CImageBuffer& image, uint32_t seed) {
    uint32_t state = seed;
    for (size_t i = 0; i < image.SizeBytes(); ++i) {
        image.Bits()[i] = static_cast<uint8_t>(Lcg(state));
    }
}

// One row of every channel value of the depth: pixel x holds x in all its channels (16 bits: a
// row of 65536 pixels).
void FillRamp(CImageBuffer& image, uint16_t bits) {
    const int32_t values = (bits == 16 || bits >= 48) ? 65536 : 256;
    ASSERT_TRUE(image.Create(values, 1, bits));
    for (int32_t x = 0; x < values; ++x) {
        for (int32_t c = 0; c < Channels(image); ++c) {
            Put(image, x, 0, c, static_cast<uint32_t>(x));
        }
    }
}

AdjustmentSettings Neutral() {
    return AdjustmentSettings{};
}

// Runs one adjustment on the ramp of every value and compares each channel with `expected(v)`.
template <typename Expected>
void ExpectChannelMap(uint16_t bits, const AdjustmentSettings& settings, Expected expected,
                      const std::string& what) {
    CImageBuffer image;
    FillRamp(image, bits);
    CImageBuffer scratch;
    AdjustImagePlain(image, scratch, settings);
    int mismatches = 0;
    for (int32_t x = 0; x < image.Width(); ++x) {
        const uint32_t want = expected(static_cast<uint32_t>(x));
        for (int32_t c = 0; c < Channels(image); ++c) {
            if (Get(image, x, 0, c) != want && ++mismatches <= 5) {
                ADD_FAILURE() << what << " at " << bits << " bits: " << x << " became "
                              << Get(image, x, 0, c) << ", expected " << want;
            }
        }
    }
    EXPECT_EQ(mismatches, 0) << what;
}

// Gamma: T[i] = min(top, trunc((i / top)^(1 / (g / 100)) x top)), T[0] = 0; gamma 0 keeps only
// the maximum. Catches a wrong exponent direction, rounding instead of truncation, a table of the
// wrong width.
TEST(Adjustments, GammaFollowsItsPowerLaw) {
    for (const uint16_t bits : {8, 24, 16, 48}) {
        const double top = (bits == 16 || bits >= 48) ? 65535.0 : 255.0;
        for (const int32_t gamma : {0, 45, 150, 200}) {
            AdjustmentSettings s = Neutral();
            s.gamma = gamma;
            ExpectChannelMap(
                bits, s,
                [&](uint32_t v) {
                    if (v == 0) {
                        return 0u;
                    }
                    const double e = 1.0 / (gamma / 100.0);
                    return static_cast<uint32_t>(
                        std::min(std::trunc(std::pow(v / top, e) * top), top));
                },
                "gamma " + std::to_string(gamma));
        }
    }
}

// Contrast c: 0 below c, top above top - c, in between trunc(256 / (256 - 2c) x (v - c)); at 16
// bits with c x 256. Contrast 127 at 8 bits: up to 127 black, 128 stays, above 128 white.
TEST(Adjustments, ContrastStretchesAroundTheMiddle) {
    for (const uint16_t bits : {8, 32, 16, 64}) {
        const bool wide = bits == 16 || bits >= 48;
        const int32_t top = wide ? 65535 : 255;
        for (const int32_t contrast : {-127, -40, 1, 63, 127}) {
            AdjustmentSettings s = Neutral();
            s.contrast = contrast;
            const int32_t t = wide ? contrast * 256 : contrast;
            ExpectChannelMap(
                bits, s,
                [&](uint32_t value) {
                    const auto v = static_cast<int32_t>(value);
                    if (v < t) {
                        return 0u;
                    }
                    if (v > top - t) {
                        return static_cast<uint32_t>(top);
                    }
                    return static_cast<uint32_t>(
                        std::trunc((top + 1.0) / (top + 1.0 - 2.0 * t) * (v - t)));
                },
                "contrast " + std::to_string(contrast));
        }
    }
    AdjustmentSettings s = Neutral();
    s.contrast = 127;
    ExpectChannelMap(
        8, s, [](uint32_t v) { return v <= 127 ? 0u : (v == 128 ? 128u : 255u); }, "contrast 127");
}

// Brightness b: trunc(v x t) with t = 1 - |b| / 255 or 1 + 10 b / 255 in single precision, within
// the channel's range: -255 is black, +255 multiplies by 11 and clips.
TEST(Adjustments, BrightnessScalesAndClips) {
    for (const uint16_t bits : {8, 24, 16, 48}) {
        const float top = (bits == 16 || bits >= 48) ? 65535.0f : 255.0f;
        for (const int32_t brightness : {-255, -100, 7, 255}) {
            AdjustmentSettings s = Neutral();
            s.brightness = brightness;
            const float t = brightness < 0
                                ? 1.0f - static_cast<float>(-brightness) * (1.0f / 255.0f)
                                : 1.0f + static_cast<float>(brightness) * (10.0f / 255.0f);
            ExpectChannelMap(
                bits, s,
                [&](uint32_t v) {
                    return static_cast<uint32_t>(
                        std::clamp(std::trunc(static_cast<float>(v) * t), 0.0f, top));
                },
                "brightness " + std::to_string(brightness));
        }
    }
    AdjustmentSettings s = Neutral();
    s.brightness = -255;
    ExpectChannelMap(
        8, s, [](uint32_t) { return 0u; }, "brightness -255");
    s.brightness = 255;
    ExpectChannelMap(
        8, s, [](uint32_t v) { return std::min(v * 11, 255u); }, "brightness 255");
}

// The unsharp mask on a vertical step edge: blur = sum of the 4 x 4 block at columns x-2..x+1,
// rows y-2..y+1, >> 4; result = o + (s x (o - blur)) / 10, clipped. The edge overshoots on both
// sides; the two outer rows and columns keep their values.
TEST(Adjustments, SharpnessOvershootsAStepEdge) {
    constexpr int32_t kWidth = 12;
    constexpr int32_t kHeight = 7;
    for (const uint16_t bits : {8, 24, 16, 64}) {
        const bool wide = bits == 16 || bits >= 48;
        const int32_t low = wide ? 20000 : 60;
        const int32_t high = wide ? 50000 : 190;
        const int32_t top = wide ? 65535 : 255;
        for (const int32_t sharpness : {1, 10, 30}) {
            CImageBuffer image;
            ASSERT_TRUE(image.Create(kWidth, kHeight, bits));
            const auto level = [&](int32_t x) { return x < 6 ? low : high; };
            for (int32_t y = 0; y < kHeight; ++y) {
                for (int32_t x = 0; x < kWidth; ++x) {
                    for (int32_t c = 0; c < Channels(image); ++c) {
                        Put(image, x, y, c, static_cast<uint32_t>(level(x)));
                    }
                }
            }
            CImageBuffer scratch;
            AdjustmentSettings s = Neutral();
            s.sharpness = sharpness;
            AdjustImagePlain(image, scratch, s);
            for (int32_t y = 0; y < kHeight; ++y) {
                for (int32_t x = 0; x < kWidth; ++x) {
                    int32_t expected = level(x);
                    if (x >= 2 && x <= kWidth - 3 && y >= 2 && y <= kHeight - 3) {
                        int32_t sum = 0;
                        for (int32_t dx = -2; dx <= 1; ++dx) {
                            sum += 4 * level(x + dx);
                        }
                        const int32_t o = level(x);
                        expected = std::clamp(o + sharpness * (o - (sum >> 4)) / 10, 0, top);
                    }
                    for (int32_t c = 0; c < Channels(image); ++c) {
                        ASSERT_EQ(Get(image, x, y, c), static_cast<uint32_t>(expected))
                            << bits << " bits, sharpness " << sharpness << " at " << x << "," << y;
                    }
                }
            }
            // The step itself must steepen: darker just before it, brighter just after.
            EXPECT_LT(Get(image, 5, 3, 0), static_cast<uint32_t>(low));
            EXPECT_GT(Get(image, 6, 3, 0), static_cast<uint32_t>(high));
        }
    }
}

// Pure colours turn round the hue circle: +120 degrees takes red to green, green to blue and blue
// to red (within the few levels the integer ramp loses), -120 the other way, and +-360 changes
// nothing. 48-bit pixels do the same on their high byte and come out with a zero low byte; a
// fourth channel is written as 0. Catches swapped channels and a wrong sector table.
TEST(Adjustments, HueTurnsPureColoursRound) {
    struct Turn {
        int32_t hue;
        int from;  // channel (0 blue, 1 green, 2 red) lit before
        int to;    // and after
    };
    const Turn turns[] = {{120, 2, 1},  {120, 1, 0},  {120, 0, 2}, {-120, 2, 0},
                          {-120, 0, 1}, {-120, 1, 2}, {360, 2, 2}, {-360, 1, 1}};
    for (const uint16_t bits : {24, 32, 48, 64}) {
        const bool wide = bits >= 48;
        for (const Turn& turn : turns) {
            CImageBuffer image;
            ASSERT_TRUE(image.Create(1, 1, bits));
            std::memset(image.Bits(), 0x11, image.SizeBytes());
            for (int c = 0; c < 3; ++c) {
                Put(image, 0, 0, c, c == turn.from ? (wide ? 0xFFFFu : 0xFFu) : 0u);
            }
            CImageBuffer scratch;
            AdjustmentSettings s = Neutral();
            s.hue = turn.hue;
            AdjustImagePlain(image, scratch, s);
            for (int c = 0; c < 3; ++c) {
                const uint32_t value = Get(image, 0, 0, c);
                const uint32_t high = wide ? value >> 8 : value;
                if (wide) {
                    EXPECT_EQ(value & 0xFF, 0u) << "low byte of channel " << c;
                }
                if (c == turn.to) {
                    EXPECT_EQ(high, 255u) << bits << " bits, hue " << turn.hue << " channel " << c;
                } else {
                    EXPECT_LE(high, 3u) << bits << " bits, hue " << turn.hue << " channel " << c;
                }
            }
            if (bits == 32 || bits == 64) {
                EXPECT_EQ(Get(image, 0, 0, 3), 0u) << "fourth channel";
            }
        }
    }
}

// A gray pixel has no hue: it keeps its value under every hue and saturation. Saturation -255
// leaves every colour a gray of the same lightness (max + min), with at most 1 of chroma left.
TEST(Adjustments, GrayHasNoHueAndSaturationMinus255IsGray) {
    for (const int32_t hue : {-360, -17, 0, 90, 359}) {
        for (const int32_t saturation : {-255, 0, 255}) {
            const std::array<uint32_t, 256> table = SaturationTable(saturation);
            for (uint32_t v = 0; v < 256; ++v) {
                ASSERT_EQ(HueSaturationPixel(v, v, v, HueShift(hue), table), v * 0x010101u)
                    << "gray " << v << " hue " << hue << " saturation " << saturation;
            }
        }
    }
    const std::array<uint32_t, 256> gray = SaturationTable(-255);
    uint32_t state = 99;
    for (int i = 0; i < 20000; ++i) {
        const uint32_t b = Lcg(state) & 0xFF;
        const uint32_t g = Lcg(state) & 0xFF;
        const uint32_t r = Lcg(state) & 0xFF;
        for (const int32_t hue : {0, 77}) {
            const uint32_t out = HueSaturationPixel(b, g, r, HueShift(hue), gray);
            const uint32_t ob = out & 0xFF;
            const uint32_t og = (out >> 8) & 0xFF;
            const uint32_t orr = (out >> 16) & 0xFF;
            const uint32_t top = std::max({ob, og, orr});
            const uint32_t bottom = std::min({ob, og, orr});
            ASSERT_LE(top - bottom, 1u) << b << "," << g << "," << r;
            const auto lightness = static_cast<int32_t>(std::max({b, g, r}) + std::min({b, g, r}));
            ASSERT_LE(std::abs(static_cast<int32_t>(top + bottom) - lightness), 1)
                << b << "," << g << "," << r;
        }
    }
}

// Neutral values leave every byte of a frame as it was, in every depth, through the plain steps
// and the fast adjuster; sharpness on a frame under 5 x 5 pixels has no interior and changes
// nothing either.
TEST(Adjustments, NeutralValuesAndTinyFramesChangeNothing) {
    for (const uint16_t bits : {8, 16, 24, 32, 48, 64}) {
        for (const auto& [width, height, sharpness] :
             std::vector<std::array<int32_t, 3>>{{37, 29, 0}, {4, 4, 30}, {4, 9, 30}, {9, 4, 12}}) {
            CImageBuffer image;
            ASSERT_TRUE(image.Create(width, height, bits));
            FillRandom(image, static_cast<uint32_t>(bits * 1000 + width));
            const std::vector<uint8_t> before(image.Bits(), image.Bits() + image.SizeBytes());
            AdjustmentSettings s = Neutral();
            s.sharpness = sharpness;
            CImageBuffer scratch;
            AdjustImagePlain(image, scratch, s);
            EXPECT_TRUE(std::equal(before.begin(), before.end(), image.Bits()))
                << "plain, " << bits << " bits, " << width << "x" << height;
            CImageAdjuster adjuster;
            adjuster.Apply(image, scratch, s);
            EXPECT_TRUE(std::equal(before.begin(), before.end(), image.Bits()))
                << "fast, " << bits << " bits, " << width << "x" << height;
        }
    }
}

// The fast adjuster (composed tables, fused passes, vector kernels, row bands) gives the plain
// steps' bytes on random frames: odd widths that leave vector tails of every length, frames tall
// enough for several bands, every depth, each step alone and all at once, and the same adjuster
// reused as values change (its kept tables must follow). Row padding is left alone.
TEST(Adjustments, FastAdjusterMatchesThePlainSteps) {
    struct Size {
        int32_t width;
        int32_t height;
    };
    const Size sizes[] = {{1, 1}, {3, 2}, {5, 5}, {17, 9}, {37, 29}, {101, 70}};
    std::vector<AdjustmentSettings> cases;
    const auto add = [&](int32_t hue, int32_t saturation, int32_t gamma, int32_t contrast,
                         int32_t sharpness, int32_t brightness) {
        cases.push_back({hue, saturation, gamma, contrast, sharpness, brightness});
    };
    add(45, 0, 100, 0, 0, 0);
    add(0, -120, 100, 0, 0, 0);
    add(-200, 180, 100, 0, 0, 0);
    add(0, 0, 60, 0, 0, 0);
    add(0, 0, 100, -50, 0, 0);
    add(0, 0, 100, 0, 17, 0);
    add(0, 0, 100, 0, 0, 120);
    add(0, 0, 170, 30, 0, -80);
    add(0, 0, 100, 0, 30, -200);
    add(200, 90, 140, 20, 25, 40);
    add(-33, -255, 0, 127, 3, 255);
    add(310, 255, 200, -127, 30, -255);
    CImageAdjuster adjuster;  // one for everything: its kept tables must follow the values
    for (const uint16_t bits : {8, 16, 24, 32, 48, 64}) {
        for (const Size& size : sizes) {
            for (size_t k = 0; k < cases.size(); ++k) {
                const AdjustmentSettings& s = cases[k];
                CImageBuffer plain;
                CImageBuffer fast;
                ASSERT_TRUE(plain.Create(size.width, size.height, bits));
                ASSERT_TRUE(fast.Create(size.width, size.height, bits));
                FillRandom(plain, static_cast<uint32_t>(k * 7919 + size.width * 31 + bits));
                std::memcpy(fast.Bits(), plain.Bits(), plain.SizeBytes());
                CImageBuffer plainScratch;
                CImageBuffer fastScratch;
                AdjustImagePlain(plain, plainScratch, s);
                adjuster.Apply(fast, fastScratch, s);
                // Padding is compared too: neither may touch it.
                const auto mismatch =
                    std::mismatch(plain.Bits(), plain.Bits() + plain.SizeBytes(), fast.Bits());
                ASSERT_EQ(mismatch.first, plain.Bits() + plain.SizeBytes())
                    << bits << " bits, " << size.width << "x" << size.height << ", case " << k
                    << ": first difference at byte " << (mismatch.first - plain.Bits()) << " (row "
                    << (mismatch.first - plain.Bits()) / plain.Stride() << ")";
            }
        }
    }
}

// The vector hue and saturation kernels take every one of the 2^24 colours to the pixel function's
// result, in three- and four-byte pixels: their lane arithmetic (products split into 16-bit
// halves, the reciprocal from tables, masks for the sectors) must agree everywhere, not only on
// the colours a random frame happens to hold.
TEST(Adjustments, VectorHueKernelsAgreeOnEveryColour) {
    struct Kernel {
        const char* name;
        HueRowKernel run;
    };
    std::vector<Kernel> kernels;
#if defined(__x86_64__)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2") != 0) {
        kernels.push_back({"AVX2", Avx2AdjustmentRowKernels()->hueSaturation8});
    }
    if (__builtin_cpu_supports("avx512bw") != 0 && __builtin_cpu_supports("avx512vbmi") != 0) {
        kernels.push_back({"AVX-512", Avx512VbmiHueRowKernel()});
    }
#endif
    if (kernels.empty()) {
        GTEST_SKIP() << "this processor runs the plain kernel only, which is the pixel function";
    }
    constexpr int32_t kWidth = 4099;  // rows that end inside a vector step
    const struct {
        int32_t hue;
        int32_t saturation;
    } settings[] = {{137, 255}, {-301, -90}};
    for (const auto& setting : settings) {
        const std::array<uint32_t, 256> saturationTable = SaturationTable(setting.saturation);
        HueRowParams params;
        params.shift = HueShift(setting.hue);
        params.saturationFactor = static_cast<uint32_t>((setting.saturation + 256) * 256);
        params.saturationTable = saturationTable.data();
        for (const int32_t samples : {3, 4}) {
            std::vector<uint8_t> row(static_cast<size_t>(kWidth) * samples);
            for (const Kernel& kernel : kernels) {
                for (uint32_t first = 0; first < (1u << 24); first += kWidth) {
                    const uint32_t count = std::min<uint32_t>(kWidth, (1u << 24) - first);
                    for (uint32_t i = 0; i < count; ++i) {
                        const uint32_t colour = first + i;
                        uint8_t* p = &row[static_cast<size_t>(i) * samples];
                        p[0] = static_cast<uint8_t>(colour);
                        p[1] = static_cast<uint8_t>(colour >> 8);
                        p[2] = static_cast<uint8_t>(colour >> 16);
                        if (samples == 4) {
                            p[3] = 0x5A;
                        }
                    }
                    kernel.run(row.data(), static_cast<int32_t>(count), samples, params);
                    for (uint32_t i = 0; i < count; ++i) {
                        const uint32_t colour = first + i;
                        const uint32_t expected =
                            HueSaturationPixel(colour & 0xFF, (colour >> 8) & 0xFF, colour >> 16,
                                               params.shift, saturationTable);
                        const uint8_t* p = &row[static_cast<size_t>(i) * samples];
                        const uint32_t got = p[0] | (p[1] << 8) | (p[2] << 16) |
                                             (samples == 4 ? p[3] << 24 : 0);
                        ASSERT_EQ(got, expected)
                            << kernel.name << ", " << samples << " samples, hue " << setting.hue
                            << ", saturation " << setting.saturation << ", colour 0x" << std::hex
                            << colour;
                    }
                }
            }
        }
    }
}

// The frame routine's way for colour frames: each row adjusted as soon as the demosaic makes it,
// in bands on several processors, the unsharp mask following one row behind. It must give the
// bytes of the whole demosaic followed by the plain steps, rows at the bands' edges included.
TEST(Adjustments, RowByRowAfterTheDemosaicMatchesTheSteps) {
    struct Case {
        uint16_t rawBits;
        uint16_t outBits;
        int32_t width;
        int32_t height;
    };
    const Case cases[] = {{8, 24, 37, 5}, {8, 24, 131, 97}, {8, 32, 66, 70},
                          {8, 24, 4, 3},  {16, 48, 41, 67}, {16, 64, 9, 6}};
    const AdjustmentSettings settings[] = {{30, 60, 140, 20, 10, 30},
                                           {0, 0, 100, 0, 25, 0},
                                           {-90, -255, 100, 0, 0, -40},
                                           {0, 0, 100, 0, 0, 0}};
    CImageAdjuster adjuster;
    for (const Case& c : cases) {
        for (size_t k = 0; k < std::size(settings); ++k) {
            CImageBuffer raw;
            ASSERT_TRUE(raw.Create(c.width, c.height, c.rawBits));
            FillRandom(raw, static_cast<uint32_t>(c.width * 7 + c.height + k));
            CImageBuffer plain;
            CImageBuffer fused;
            ASSERT_TRUE(plain.Create(c.width, c.height, c.outBits));
            ASSERT_TRUE(fused.Create(c.width, c.height, c.outBits));
            CImageBuffer plainScratch;
            CImageBuffer fusedScratch;
            ASSERT_TRUE(Demosaic(plain, raw, 3, 120, 90));
            AdjustImagePlain(plain, plainScratch, settings[k]);
            ASSERT_TRUE(
                adjuster.DemosaicAndApply(fused, fusedScratch, raw, 3, 120, 90, settings[k]));
            const auto mismatch =
                std::mismatch(plain.Bits(), plain.Bits() + plain.SizeBytes(), fused.Bits());
            ASSERT_EQ(mismatch.first, plain.Bits() + plain.SizeBytes())
                << c.outBits << " bits, " << c.width << "x" << c.height << ", settings " << k
                << ": first difference in row " << (mismatch.first - plain.Bits()) / plain.Stride();
        }
    }
}

}  // namespace
}  // namespace quorix
