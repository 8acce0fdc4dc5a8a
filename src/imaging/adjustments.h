#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "imaging/image_buffer.h"

// The image adjustments of the output image, as plain one-step-at-a-time kernels: hue and
// saturation, gamma, contrast, sharpness (an unsharp mask) and brightness. These are the
// reference: CImageAdjuster runs the same steps faster (composed tables, fused passes, vector
// code, row bands on several processors) and must give the same bytes.
//
// Images are 8 (gray), 16 (gray, full 16-bit scale), 24 or 32 (B, G, R bytes), 48 or 64 (B, G, R
// words) bits per pixel. The per-channel steps touch B, G and R only; a fourth channel is left
// alone, except by hue and saturation, which write it as 0.
namespace quorix {

// The adjustment values of one frame (value IDs 1-5 and 11).
struct AdjustmentSettings {
    int32_t hue = 0;         // [degrees] -360..360
    int32_t saturation = 0;  // -255..255
    int32_t gamma = 100;     // [1/100] 0..200
    int32_t contrast = 0;    // -127..127
    int32_t sharpness = 0;   // [1/10] 0..30
    int32_t brightness = 0;  // -255..255
};

// Whether a step changes the image; a neutral step is skipped.
inline bool HueSaturationActive(const AdjustmentSettings& s) {
    return s.hue != 0 || s.saturation != 0;
}
inline bool GammaActive(const AdjustmentSettings& s) {
    return s.gamma != 100;
}
inline bool ContrastActive(const AdjustmentSettings& s) {
    return s.contrast != 0;
}
inline bool SharpnessActive(const AdjustmentSettings& s) {
    return s.sharpness != 0;
}
inline bool BrightnessActive(const AdjustmentSettings& s) {
    return s.brightness != 0;
}

// Per-value tables of the channel steps, 256 entries for 8-bit channels, 65536 for 16-bit ones.
// Gamma g: exponent 1 / (g / 100), T[0] = 0, T[i] = min(max, trunc((i / max)^e x max)).
std::vector<uint16_t> GammaTable(int32_t gamma, bool wide);
// Contrast c: below c (c x 256 for 16 bits) 0, above max - that value max, in between stretched by
// 256 / (256 - 2c) (65536 / (65536 - 2 x 256 c)).
std::vector<uint16_t> ContrastTable(int32_t contrast, bool wide);
// Brightness b: trunc(v x t), limited to the channel's range, with the single-precision factor
// t = 1 - |b| / 255 below 0 and 1 + 10 b / 255 above.
std::vector<uint16_t> BrightnessTable(int32_t brightness, bool wide);
float BrightnessFactor(int32_t brightness);

// The hue shift of a hue rotation [degrees]: 0..1529, in steps of 1/255 of a 60-degree sector.
int32_t HueShift(int32_t hue);

// The tables of the integer hue/saturation arithmetic. The fixed ones (reciprocals, grays, chroma
// limits) are the same for every saturation; the saturation table is made per saturation.
struct HueSaturationTables {
    std::array<uint32_t, 256> reciprocal;   // 0xFF0000 / d; entry 0 is 0 (no chroma)
    std::array<uint32_t, 256> gray;         // 65793 k: k in all three bytes
    std::array<uint32_t, 512> chromaLimit;  // i below 256, 511 - i above
};
const HueSaturationTables& FixedHueSaturationTables();
// S[c] = (c x F + 32768) >> 16 with F = (saturation + 256) x 256.
std::array<uint32_t, 256> SaturationTable(int32_t saturation);

// One 8-bit pixel through hue and saturation: returns blue in bits 0-7, green 8-15, red 16-23.
uint32_t HueSaturationPixel(uint32_t blue, uint32_t green, uint32_t red, int32_t shift,
                            const std::array<uint32_t, 256>& saturationTable);

// The plain steps, in place on `image`. Hue and saturation run on colour images only (16-bit
// channels through their high byte, the low byte becoming 0). `table` has 256 or 65536 entries as
// the channel width needs. Sharpness copies the image into `scratch` (made in the image's format
// when it is not) and leaves the two outer rows and columns as they were; the 16-bit form skips
// the step when its table cannot be had.
void HueSaturationPlain(CImageBuffer& image, int32_t hue, int32_t saturation);
void ApplyChannelTablePlain(CImageBuffer& image, const std::vector<uint16_t>& table);
void SharpenPlain(CImageBuffer& image, CImageBuffer& scratch, int32_t sharpness);

// All adjustments in the frame routine's order, each skipped when neutral, one plain step after
// the other: hue and saturation, gamma, contrast, sharpness, brightness.
void AdjustImagePlain(CImageBuffer& image, CImageBuffer& scratch,
                      const AdjustmentSettings& settings);

}  // namespace quorix
