#include "imaging/adjustments.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>

namespace quorix {
namespace {

// Where the channels of an image's pixels are: how many the steps touch (1 gray, 3 colour), the
// bytes of one channel and of one pixel.
struct ChannelLayout {
    int32_t channels = 0;
    int32_t channelBytes = 0;
    int32_t pixelBytes = 0;
};

ChannelLayout LayoutOf(const CImageBuffer& image) {
    switch (image.BitsPerPixel()) {
        case 8:
            return {1, 1, 1};
        case 16:
            return {1, 2, 2};
        case 24:
            return {3, 1, 3};
        case 32:
            return {3, 1, 4};
        case 48:
            return {3, 2, 6};
        case 64:
            return {3, 2, 8};
        default:
            return {};
    }
}

uint32_t LoadChannel(const uint8_t* p, int32_t channelBytes) {
    return channelBytes == 1 ? p[0] : static_cast<uint32_t>(p[0] | (p[1] << 8));
}

void StoreChannel(uint8_t* p, int32_t channelBytes, uint32_t value) {
    p[0] = static_cast<uint8_t>(value & 0xFF);
    if (channelBytes == 2) {
        p[1] = static_cast<uint8_t>(value >> 8);
    }
}

// Sectors of the hue circle, used modulo 6: which packed channels (blue bits 0-7, green 8-15, red
// 16-23) sit at the maximum, and where the ramp of the remaining channel goes, rising (+) or
// falling (-).
constexpr uint32_t kSectorMask[6] = {0xFF00FF, 0xFF0000, 0xFFFF00, 0x00FF00, 0x00FFFF, 0x0000FF};
constexpr int32_t kSectorMultiplier[6] = {-1, 256, -65536, 1, -256, 65536};

}  // namespace

std::vector<uint16_t> GammaTable(int32_t gamma, bool wide) {
    const uint32_t top = wide ? 65535u : 255u;
    std::vector<uint16_t> table(top + 1u);
    // Gamma 0 makes the exponent infinite: everything below the maximum goes to 0.
    const double exponent = 1.0 / (gamma / 100.0);
    for (uint32_t i = 1; i <= top; ++i) {
        const double value = std::trunc(std::pow(i / static_cast<double>(top), exponent) * top);
        table[i] = static_cast<uint16_t>(std::min(value, static_cast<double>(top)));
    }
    return table;
}

std::vector<uint16_t> ContrastTable(int32_t contrast, bool wide) {
    const int32_t top = wide ? 65535 : 255;
    const int32_t t = wide ? contrast * 256 : contrast;
    const double stretch = (top + 1.0) / (top + 1.0 - 2.0 * t);
    std::vector<uint16_t> table(static_cast<size_t>(top) + 1);
    for (int32_t i = 0; i <= top; ++i) {
        int32_t value = 0;
        if (i < t) {
            value = 0;
        } else if (i > top - t) {
            value = top;
        } else {
            value = static_cast<int32_t>(std::trunc(stretch * (i - t)));
        }
        table[static_cast<size_t>(i)] = static_cast<uint16_t>(value);
    }
    return table;
}

float BrightnessFactor(int32_t brightness) {
    if (brightness < 0) {
        return 1.0f - static_cast<float>(-brightness) * (1.0f / 255.0f);
    }
    return 1.0f + static_cast<float>(brightness) * (10.0f / 255.0f);
}

std::vector<uint16_t> BrightnessTable(int32_t brightness, bool wide) {
    const uint32_t top = wide ? 65535u : 255u;
    const float factor = BrightnessFactor(brightness);
    std::vector<uint16_t> table(top + 1u);
    for (uint32_t i = 0; i <= top; ++i) {
        const float value = std::trunc(static_cast<float>(i) * factor);
        table[i] = static_cast<uint16_t>(std::clamp(value, 0.0f, static_cast<float>(top)));
    }
    return table;
}

int32_t HueShift(int32_t hue) {
    // The rotation as a 16-bit fraction of the circle, then in sixths of it with 8 fraction bits.
    const auto u = static_cast<uint16_t>(hue * 65536 / 360);
    const int32_t h6 = (static_cast<int32_t>(u) * 6) >> 8;
    int32_t r = h6 & 511;
    if (r >= 256) {
        r -= 512;
    }
    const int32_t k = ((h6 + 256) >> 9) % 3;
    int32_t shift = r + 510 * k;
    while (shift < 0) {
        shift += 1530;
    }
    while (shift >= 1530) {
        shift -= 1530;
    }
    return shift;
}

const HueSaturationTables& FixedHueSaturationTables() {
    static const HueSaturationTables tables = [] {
        HueSaturationTables t{};
        t.reciprocal[0] = 0;
        for (uint32_t d = 1; d < 256; ++d) {
            t.reciprocal[d] = 0xFF0000u / d;
        }
        for (uint32_t k = 0; k < 256; ++k) {
            t.gray[k] = 65793u * k;
        }
        for (uint32_t i = 0; i < 512; ++i) {
            t.chromaLimit[i] = i < 256 ? i : 511 - i;
        }
        return t;
    }();
    return tables;
}

std::array<uint32_t, 256> SaturationTable(int32_t saturation) {
    const auto factor = static_cast<uint32_t>((saturation + 256) * 256);
    std::array<uint32_t, 256> table{};
    for (uint32_t c = 0; c < 256; ++c) {
        table[c] = (c * factor + 32768u) >> 16;
    }
    return table;
}

uint32_t HueSaturationPixel(uint32_t blue, uint32_t green, uint32_t red, int32_t shift,
                            const std::array<uint32_t, 256>& saturationTable) {
    const HueSaturationTables& fixed = FixedHueSaturationTables();
    const uint32_t top = std::max({blue, green, red});
    const uint32_t bottom = std::min({blue, green, red});
    const uint32_t chroma = top - bottom;
    // The sector of the hue circle and how far into it the colour lies.
    int32_t sector = 0;
    int32_t ramp = 0;
    if (blue > std::max(red, green)) {
        sector = 5;
        ramp = static_cast<int32_t>(red) - static_cast<int32_t>(green);
    } else if (red >= green) {
        sector = 1;
        ramp = static_cast<int32_t>(green) - static_cast<int32_t>(blue);
    } else {
        sector = 3;
        ramp = static_cast<int32_t>(blue) - static_cast<int32_t>(red);
    }
    if (ramp < 0) {
        sector -= 1;
        ramp += static_cast<int32_t>(chroma);
    }
    const uint32_t lightness = top + bottom;
    const uint32_t limit = std::min(fixed.chromaLimit[lightness], saturationTable[chroma]);
    const uint32_t newBottom = (lightness - limit) >> 1;
    uint32_t packed = fixed.gray[newBottom];
    if (chroma != 0) {
        const uint32_t v =
            ((static_cast<uint32_t>(ramp) * fixed.reciprocal[chroma] + 32768u) >> 16) +
            static_cast<uint32_t>(shift % 255);
        const int32_t j = (sector + shift / 255 + (v > 254 ? 1 : 0)) % 6;
        const uint32_t fraction = v < 255 ? v : v - 255;
        const uint32_t width = ((lightness + limit) >> 1) - newBottom;
        const uint32_t step = (width * fraction + 128u) >> 8;
        packed += (fixed.gray[width] & kSectorMask[j]) +
                  static_cast<uint32_t>(static_cast<int32_t>(step) * kSectorMultiplier[j]);
    }
    return packed;
}

void HueSaturationPlain(CImageBuffer& image, int32_t hue, int32_t saturation) {
    const ChannelLayout layout = LayoutOf(image);
    if (image.Bits() == nullptr || layout.channels != 3) {
        return;
    }
    const int32_t shift = HueShift(hue);
    const std::array<uint32_t, 256> saturationTable = SaturationTable(saturation);
    const bool wide = layout.channelBytes == 2;
    const bool fourth = layout.pixelBytes == 4 * layout.channelBytes;
    for (int32_t y = 0; y < image.Height(); ++y) {
        uint8_t* p = image.Row(y);
        for (int32_t x = 0; x < image.Width(); ++x, p += layout.pixelBytes) {
            // 16-bit channels are taken by their high byte.
            const uint32_t drop = wide ? 8 : 0;
            const uint32_t packed = HueSaturationPixel(
                LoadChannel(p, layout.channelBytes) >> drop,
                LoadChannel(p + layout.channelBytes, layout.channelBytes) >> drop,
                LoadChannel(p + 2 * layout.channelBytes, layout.channelBytes) >> drop, shift,
                saturationTable);
            for (int32_t c = 0; c < 3; ++c) {
                StoreChannel(p + c * layout.channelBytes, layout.channelBytes,
                             ((packed >> (8 * c)) & 0xFF) << drop);
            }
            if (fourth) {
                StoreChannel(p + 3 * layout.channelBytes, layout.channelBytes, 0);
            }
        }
    }
}

void ApplyChannelTablePlain(CImageBuffer& image, const std::vector<uint16_t>& table) {
    const ChannelLayout layout = LayoutOf(image);
    const size_t entries = layout.channelBytes == 2 ? 65536 : 256;
    if (image.Bits() == nullptr || layout.channels == 0 || table.size() != entries) {
        return;
    }
    for (int32_t y = 0; y < image.Height(); ++y) {
        uint8_t* p = image.Row(y);
        for (int32_t x = 0; x < image.Width(); ++x, p += layout.pixelBytes) {
            for (int32_t c = 0; c < layout.channels; ++c) {
                uint8_t* channel = p + c * layout.channelBytes;
                StoreChannel(channel, layout.channelBytes,
                             table[LoadChannel(channel, layout.channelBytes)]);
            }
        }
    }
}

void SharpenPlain(CImageBuffer& image, CImageBuffer& scratch, int32_t sharpness) {
    const ChannelLayout layout = LayoutOf(image);
    if (image.Bits() == nullptr || layout.channels == 0) {
        return;
    }
    if (scratch.Width() != image.Width() || scratch.Height() != image.Height() ||
        scratch.BitsPerPixel() != image.BitsPerPixel()) {
        if (!scratch.CopyFormat(image)) {
            return;
        }
    }
    // D[k] = (s x k) / 10 toward zero, for every difference k between a sample and its blur.
    const bool wide = layout.channelBytes == 2;
    const int32_t top = wide ? 65535 : 255;
    std::vector<int32_t> correction;
    try {
        correction.resize(2 * static_cast<size_t>(top) + 2);
    } catch (const std::bad_alloc&) {
        return;
    }
    for (int32_t k = -top; k <= top + 1; ++k) {
        correction[static_cast<size_t>(k + top)] = sharpness * k / 10;
    }
    std::memcpy(scratch.Bits(), image.Bits(), image.SizeBytes());
    const int32_t width = image.Width();
    const int32_t height = image.Height();
    const auto sample = [&](const CImageBuffer& from, int32_t x, int32_t y, int32_t c) {
        return static_cast<int32_t>(LoadChannel(
            from.Row(y) + x * layout.pixelBytes + c * layout.channelBytes, layout.channelBytes));
    };
    // The blur of the 4 x 4 block at columns x-2..x+1 and rows y-2..y+1 goes into the image ...
    for (int32_t y = 2; y <= height - 3; ++y) {
        for (int32_t x = 2; x <= width - 3; ++x) {
            for (int32_t c = 0; c < layout.channels; ++c) {
                int32_t sum = 0;
                for (int32_t dy = -2; dy <= 1; ++dy) {
                    for (int32_t dx = -2; dx <= 1; ++dx) {
                        sum += sample(scratch, x + dx, y + dy, c);
                    }
                }
                StoreChannel(image.Row(y) + x * layout.pixelBytes + c * layout.channelBytes,
                             layout.channelBytes, static_cast<uint32_t>(sum >> 4));
            }
        }
    }
    // ... and each sample then moves away from its blur by s / 10 of the difference.
    for (int32_t y = 2; y <= height - 3; ++y) {
        for (int32_t x = 2; x <= width - 3; ++x) {
            for (int32_t c = 0; c < layout.channels; ++c) {
                const int32_t original = sample(scratch, x, y, c);
                const int32_t blurred = sample(image, x, y, c);
                const int32_t value =
                    original + correction[static_cast<size_t>(original - blurred + top)];
                StoreChannel(image.Row(y) + x * layout.pixelBytes + c * layout.channelBytes,
                             layout.channelBytes, static_cast<uint32_t>(std::clamp(value, 0, top)));
            }
        }
    }
}

void AdjustImagePlain(CImageBuffer& image, CImageBuffer& scratch,
                      const AdjustmentSettings& settings) {
    const ChannelLayout layout = LayoutOf(image);
    const bool wide = layout.channelBytes == 2;
    if (HueSaturationActive(settings) && layout.channels == 3) {
        HueSaturationPlain(image, settings.hue, settings.saturation);
    }
    if (GammaActive(settings)) {
        ApplyChannelTablePlain(image, GammaTable(settings.gamma, wide));
    }
    if (ContrastActive(settings)) {
        ApplyChannelTablePlain(image, ContrastTable(settings.contrast, wide));
    }
    if (SharpnessActive(settings)) {
        SharpenPlain(image, scratch, settings.sharpness);
    }
    if (BrightnessActive(settings)) {
        ApplyChannelTablePlain(image, BrightnessTable(settings.brightness, wide));
    }
}

}  // namespace quorix
