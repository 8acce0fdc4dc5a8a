#pragma once

#include <cstddef>
#include <cstdint>

// The row kernels of CImageAdjuster. The plain forms below are compiled once in
// image_adjuster.cpp for any processor and once more in adjustments_avx2.cpp for processors with
// AVX2 (where the compiler may use its vector instructions, and where hue and saturation also
// have a hand-written vector kernel); they live in an unnamed namespace so that the two
// compilations never mix. All give the bytes of the plain steps in adjustments.cpp.
namespace quorix {

// What one row of hue and saturation needs: the hue shift (HueShift), the saturation factor
// (saturation + 256) x 256 and its table (SaturationTable).
struct HueRowParams {
    int32_t shift = 0;
    uint32_t saturationFactor = 65536;
    const uint32_t* saturationTable = nullptr;
};

// The kernels of one processor level. Rows hold `width` pixels of `pixelSamples` samples (8-bit:
// 1, 3 or 4; 16-bit: 1, 3 or 4 words); a fourth sample is never a colour channel.
struct AdjustmentRowKernels {
    // Hue and saturation of 24- or 32-bit pixels in place (pixelSamples 3 or 4).
    void (*hueSaturation8)(uint8_t* row, int32_t width, int32_t pixelSamples,
                           const HueRowParams& params);
    // A 256-entry table on the colour channels, from `in` to `out` (which may be the same row).
    void (*table8)(uint8_t* out, const uint8_t* in, int32_t width, int32_t pixelSamples,
                   const uint8_t* table);
    // One row y of the unsharp mask: rows[0..3] are rows y-2..y+1 of the unadjusted copy, `out`
    // receives row y; interior columns are sharpened, the two outer ones on each side copied.
    // `sums` has room for width x pixelSamples values.
    void (*sharpen8)(uint8_t* out, const uint8_t* const rows[4], int32_t width,
                     int32_t pixelSamples, int32_t sharpness, uint16_t* sums);
    // Fused forms, null where the level has none. Hue and saturation from `in` to `out` (the same
    // row or another), then `table`, when not null, on the colour bytes: one pass for what
    // hueSaturation8 followed by table8 does in two.
    void (*hueTable8)(uint8_t* out, const uint8_t* in, int32_t width, int32_t pixelSamples,
                      const HueRowParams& params, const uint8_t* table);
    // sharpen8 followed by `table`, when not null, on the colour bytes of `out`.
    void (*sharpenTable8)(uint8_t* out, const uint8_t* const rows[4], int32_t width,
                          int32_t pixelSamples, int32_t sharpness, uint16_t* sums,
                          const uint8_t* table);
};

const AdjustmentRowKernels& PlainAdjustmentRowKernels();
// Null in builds for processors other than x86-64; may run only where AVX2 is present.
const AdjustmentRowKernels* Avx2AdjustmentRowKernels();
// The table kernel with AVX-512 byte permutes (a 256-entry table in four registers, 64 bytes a
// step); null in builds for other processors; may run only where AVX512BW and AVX512VBMI are.
using TableRowKernel = void (*)(uint8_t* out, const uint8_t* in, int32_t width,
                                int32_t pixelSamples, const uint8_t* table);
TableRowKernel Avx512VbmiTableRowKernel();
// Hue and saturation with AVX-512 (16 pixels a step, byte permutes for the three-byte pixels);
// same conditions.
using HueRowKernel = void (*)(uint8_t* row, int32_t width, int32_t pixelSamples,
                              const HueRowParams& params);
HueRowKernel Avx512VbmiHueRowKernel();
// The fused forms of AdjustmentRowKernels with AVX-512 (the unsharp mask 64 bytes a step); same
// conditions.
using HueTableRowKernel = decltype(AdjustmentRowKernels::hueTable8);
HueTableRowKernel Avx512VbmiHueTableRowKernel();
using SharpenTableRowKernel = decltype(AdjustmentRowKernels::sharpenTable8);
SharpenTableRowKernel Avx512VbmiSharpenTableRowKernel();

namespace {

template <typename Sample>
void TableRow(Sample* out, const Sample* in, int32_t width, int32_t pixelSamples,
              const Sample* table) {
    const int32_t n = width * pixelSamples;
    if (pixelSamples == 4) {
        for (int32_t i = 0; i < n; i += 4) {
            out[i] = table[in[i]];
            out[i + 1] = table[in[i + 1]];
            out[i + 2] = table[in[i + 2]];
            out[i + 3] = in[i + 3];
        }
        return;
    }
    for (int32_t i = 0; i < n; ++i) {
        out[i] = table[in[i]];
    }
}

// (s x d) / 10 rounded toward zero. For 8-bit samples |s x d| <= 30 x 256, where the multiply by
// 6554 / 65536 gives the exact quotient of the magnitude.
template <typename Sample>
inline int32_t Correction(int32_t sharpness, int32_t difference) {
    const int32_t product = sharpness * difference;
    if constexpr (sizeof(Sample) == 1) {
        const int32_t magnitude = product < 0 ? -product : product;
        const int32_t quotient = (magnitude * 6554) >> 16;
        return product < 0 ? -quotient : quotient;
    } else {
        return product / 10;
    }
}

// `Sum` holds the sum of four samples: 16 bits for 8-bit samples, 32 for 16-bit ones.
template <typename Sample, typename Sum>
void SharpenRow(Sample* out, const Sample* const rows[4], int32_t width, int32_t pixelSamples,
                int32_t sharpness, const Sample* after, Sum* sums) {
    constexpr int32_t kTop = sizeof(Sample) == 1 ? 255 : 65535;
    const int32_t n = width * pixelSamples;
    const Sample* r0 = rows[0];
    const Sample* r1 = rows[1];
    const Sample* r2 = rows[2];
    const Sample* r3 = rows[3];
    for (int32_t i = 0; i < n; ++i) {
        sums[i] = static_cast<Sum>(r0[i] + r1[i] + r2[i] + r3[i]);
    }
    const int32_t step = pixelSamples;
    const int32_t begin = 2 * step;
    const int32_t end = (width - 2) * step;
    for (int32_t i = 0; i < begin && i < n; ++i) {
        out[i] = r2[i];
    }
    for (int32_t i = begin; i < end; ++i) {
        const int32_t blur = (static_cast<int32_t>(sums[i - 2 * step]) + sums[i - step] + sums[i] +
                              sums[i + step]) >>
                             4;
        const int32_t original = r2[i];
        int32_t value = original + Correction<Sample>(sharpness, original - blur);
        value = value < 0 ? 0 : (value > kTop ? kTop : value);
        out[i] = static_cast<Sample>(value);
    }
    for (int32_t i = end > begin ? end : begin; i < n; ++i) {
        out[i] = r2[i];
    }
    if (pixelSamples == 4) {
        for (int32_t i = 3; i < n; i += 4) {
            out[i] = r2[i];
        }
    }
    if (after != nullptr) {
        TableRow<Sample>(out, out, width, pixelSamples, after);
    }
}

}  // namespace
}  // namespace quorix
