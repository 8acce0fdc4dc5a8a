#include <cstddef>
#include <cstdint>

#include "imaging/adjustments.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

// The adjustment row kernels for processors with AVX2. The plain kernels of adjustment_rows.h are
// compiled here once more for AVX2 (the target is switched on only around that header and the
// functions of this file, so no inline function shared with other files is compiled for it).
// Hue and saturation take eight pixels at a time in 32-bit lanes: every branch of the per-pixel
// arithmetic becomes a blend, the reciprocal table a division, the saturation table its own
// formula, and the sector table lane permutes that pick each channel's top, ramp or bottom value.
#if defined(__x86_64__)
#pragma GCC push_options
#pragma GCC target("avx2")
#include "imaging/adjustment_rows.h"

namespace quorix {
namespace {

#define QUORIX_INLINE inline __attribute__((always_inline))

// The row's constants as vectors, made once per row.
struct HueVectors {
    __m256i shiftRemainder;    // shift mod 255
    __m256i shiftSectors;      // shift div 255
    __m256i saturationFactor;  // saturation + 256
};

// Colour channels of 8 three-byte pixels: the low 16 bytes hold pixels 0-3 and the high 16 bytes
// pixels 4-7 (loaded from 12 bytes further on), so each lane picks bytes 0, 3, 6, 9 (+ channel).
QUORIX_INLINE __m256i SpreadChannel(__m256i pixels, int channel) {
    const auto c = static_cast<char>(channel);
    const char z = static_cast<char>(0x80);
    const __m128i lane =
        _mm_setr_epi8(c, z, z, z, static_cast<char>(c + 3), z, z, z, static_cast<char>(c + 6), z, z,
                      z, static_cast<char>(c + 9), z, z, z);
    return _mm256_shuffle_epi8(pixels, _mm256_broadcastsi128_si256(lane));
}

// One colour channel of the result: the top value where the sector's mask lane says so, the ramp
// value where its other mask does, else the bottom value.
QUORIX_INLINE __m256i Channel(__m256i sector, __m256i topLanes, __m256i rampLanes, __m256i top,
                              __m256i ramp, __m256i bottom) {
    const __m256i atTop = _mm256_permutevar8x32_epi32(topLanes, sector);
    const __m256i onRamp = _mm256_permutevar8x32_epi32(rampLanes, sector);
    return _mm256_blendv_epi8(_mm256_blendv_epi8(bottom, ramp, onRamp), top, atTop);
}

// Eight pixels' blue, green, red (0..255 in 32-bit lanes) through hue and saturation; returns
// them packed as B | G << 8 | R << 16.
QUORIX_INLINE __m256i HueSaturation8(__m256i blue, __m256i green, __m256i red,
                                     const HueVectors& params) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i top = _mm256_max_epi32(_mm256_max_epi32(blue, green), red);
    const __m256i bottom = _mm256_min_epi32(_mm256_min_epi32(blue, green), red);
    const __m256i chroma = _mm256_sub_epi32(top, bottom);
    const __m256i blueTop = _mm256_cmpgt_epi32(blue, _mm256_max_epi32(red, green));
    const __m256i greenAboveRed = _mm256_cmpgt_epi32(green, red);
    // Sector 1 (red at least green) ramps green - blue, sector 3 blue - red, sector 5 red - green.
    __m256i ramp = _mm256_blendv_epi8(_mm256_sub_epi32(green, blue), _mm256_sub_epi32(blue, red),
                                      greenAboveRed);
    ramp = _mm256_blendv_epi8(ramp, _mm256_sub_epi32(red, green), blueTop);
    __m256i sector = _mm256_blendv_epi8(_mm256_set1_epi32(1), _mm256_set1_epi32(3), greenAboveRed);
    sector = _mm256_blendv_epi8(sector, _mm256_set1_epi32(5), blueTop);
    const __m256i negative = _mm256_cmpgt_epi32(zero, ramp);
    sector = _mm256_add_epi32(sector, negative);
    ramp = _mm256_add_epi32(ramp, _mm256_and_si256(negative, chroma));

    const __m256i lightness = _mm256_add_epi32(top, bottom);
    const __m256i limit =
        _mm256_min_epi32(lightness, _mm256_sub_epi32(_mm256_set1_epi32(511), lightness));
    // Chroma and saturation + 256 both fit 16 bits: (c x F + 32768) >> 16 with F = that x 256 is
    // (c x (saturation + 256) + 128) >> 8, one 16-bit multiply-add.
    const __m256i saturated =
        _mm256_srli_epi32(_mm256_add_epi32(_mm256_madd_epi16(chroma, params.saturationFactor),
                                           _mm256_set1_epi32(128)),
                          8);
    const __m256i m = _mm256_min_epi32(limit, saturated);
    const __m256i n = _mm256_srli_epi32(_mm256_sub_epi32(lightness, m), 1);
    const __m256i w = _mm256_sub_epi32(_mm256_srli_epi32(_mm256_add_epi32(lightness, m), 1), n);

    // The reciprocal 0xFF0000 / chroma: the single-precision quotient truncated is exact or one
    // too large (when it rounds up to the next whole number), which its product with the chroma
    // shows. Every product here stays below 2^24, so single precision holds it exactly.
    const __m256 dividend = _mm256_set1_ps(16711680.0f);
    const __m256 chromaF = _mm256_cvtepi32_ps(chroma);
    __m256 q =
        _mm256_round_ps(_mm256_div_ps(dividend, chromaF), _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
    q = _mm256_sub_ps(q,
                      _mm256_and_ps(_mm256_cmp_ps(_mm256_mul_ps(q, chromaF), dividend, _CMP_GT_OQ),
                                    _mm256_set1_ps(1.0f)));
    q = _mm256_andnot_ps(_mm256_castsi256_ps(_mm256_cmpeq_epi32(chroma, zero)), q);
    const __m256i scaled = _mm256_cvttps_epi32(_mm256_mul_ps(_mm256_cvtepi32_ps(ramp), q));
    __m256i v = _mm256_srli_epi32(_mm256_add_epi32(scaled, _mm256_set1_epi32(32768)), 16);
    v = _mm256_add_epi32(v, params.shiftRemainder);
    const __m256i over = _mm256_cmpgt_epi32(v, _mm256_set1_epi32(254));
    sector = _mm256_sub_epi32(_mm256_add_epi32(sector, params.shiftSectors), over);
    sector = _mm256_sub_epi32(
        sector,
        _mm256_and_si256(_mm256_cmpgt_epi32(sector, _mm256_set1_epi32(5)), _mm256_set1_epi32(6)));
    const __m256i fraction = _mm256_sub_epi32(v, _mm256_and_si256(over, _mm256_set1_epi32(255)));
    const __m256i t = _mm256_srli_epi32(
        _mm256_add_epi32(_mm256_madd_epi16(w, fraction), _mm256_set1_epi32(128)), 8);

    // In sector j the channel at distance (j - base) mod 6 below 2 from its base (red 0, green 2,
    // blue 4) sits at the top, n + w; the one at distance 2 (an even sector) falls from the top
    // by t, the one at distance 5 (an odd sector) rises from the bottom by t; the third stays at
    // the bottom, n. The lanes below list, per sector 0..5, the channel's top and ramp sectors.
    const __m256i topValue = _mm256_add_epi32(n, w);
    const __m256i rising =
        _mm256_cmpeq_epi32(_mm256_and_si256(sector, _mm256_set1_epi32(1)), _mm256_set1_epi32(1));
    const __m256i rampValue =
        _mm256_blendv_epi8(_mm256_sub_epi32(topValue, t), _mm256_add_epi32(n, t), rising);
    const __m256i outRed =
        Channel(sector, _mm256_setr_epi32(-1, -1, 0, 0, 0, 0, 0, 0),
                _mm256_setr_epi32(0, 0, -1, 0, 0, -1, 0, 0), topValue, rampValue, n);
    const __m256i outGreen =
        Channel(sector, _mm256_setr_epi32(0, 0, -1, -1, 0, 0, 0, 0),
                _mm256_setr_epi32(0, -1, 0, 0, -1, 0, 0, 0), topValue, rampValue, n);
    const __m256i outBlue =
        Channel(sector, _mm256_setr_epi32(0, 0, 0, 0, -1, -1, 0, 0),
                _mm256_setr_epi32(-1, 0, 0, -1, 0, 0, 0, 0), topValue, rampValue, n);
    return _mm256_or_si256(_mm256_or_si256(outBlue, _mm256_slli_epi32(outGreen, 8)),
                           _mm256_slli_epi32(outRed, 16));
}

void ScalarPixel(uint8_t* pixel, const HueRowParams& params, const std::array<uint32_t, 256>& s) {
    const uint32_t packed = HueSaturationPixel(pixel[0], pixel[1], pixel[2], params.shift, s);
    for (int c = 0; c < 3; ++c) {
        const uint32_t value = (packed >> (8 * c)) & 0xFF;
        pixel[c] = static_cast<uint8_t>(value);
    }
}

void HueSaturationRow(uint8_t* row, int32_t width, int32_t pixelSamples,
                      const HueRowParams& params) {
    const HueVectors vectors = {
        _mm256_set1_epi32(params.shift % 255), _mm256_set1_epi32(params.shift / 255),
        _mm256_set1_epi32(static_cast<int32_t>(params.saturationFactor >> 8))};
    const auto& saturationTable =
        *reinterpret_cast<const std::array<uint32_t, 256>*>(params.saturationTable);
    const __m256i byteMask = _mm256_set1_epi32(0xFF);
    int32_t x = 0;
    if (pixelSamples == 3) {
        // Each step reads 28 bytes for its 8 pixels (24 bytes), so it runs only while those 28
        // bytes lie inside the row.
        const __m128i compactLane =
            _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
        const __m256i compact = _mm256_broadcastsi128_si256(compactLane);
        const __m256i gatherLanes = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 3, 7);
        for (; 3 * static_cast<int64_t>(x) + 28 <= 3 * static_cast<int64_t>(width); x += 8) {
            uint8_t* p = row + static_cast<ptrdiff_t>(x) * 3;
            const __m256i pixels = _mm256_inserti128_si256(
                _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))),
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 12)), 1);
            const __m256i packed =
                HueSaturation8(SpreadChannel(pixels, 0), SpreadChannel(pixels, 1),
                               SpreadChannel(pixels, 2), vectors);
            const __m256i bytes =
                _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(packed, compact), gatherLanes);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm256_castsi256_si128(bytes));
            _mm_storel_epi64(reinterpret_cast<__m128i*>(p + 16),
                             _mm256_extracti128_si256(bytes, 1));
        }
        for (; x < width; ++x) {
            ScalarPixel(row + static_cast<ptrdiff_t>(x) * 3, params, saturationTable);
        }
        return;
    }
    for (; x + 8 <= width; x += 8) {
        uint8_t* p = row + static_cast<ptrdiff_t>(x) * 4;
        const __m256i pixels = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
        const __m256i packed =
            HueSaturation8(_mm256_and_si256(pixels, byteMask),
                           _mm256_and_si256(_mm256_srli_epi32(pixels, 8), byteMask),
                           _mm256_and_si256(_mm256_srli_epi32(pixels, 16), byteMask), vectors);
        // The fourth byte comes out 0, as the pipeline writes it.
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), packed);
    }
    for (; x < width; ++x) {
        uint8_t* p = row + static_cast<ptrdiff_t>(x) * 4;
        ScalarPixel(p, params, saturationTable);
        p[3] = 0;
    }
}

void Table8(uint8_t* out, const uint8_t* in, int32_t width, int32_t pixelSamples,
            const uint8_t* table) {
    TableRow<uint8_t>(out, in, width, pixelSamples, table);
}

QUORIX_INLINE __m256i Widen16(const uint8_t* p) {
    return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}

QUORIX_INLINE __m256i LoadSums(const uint16_t* sums, int32_t i) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(sums + i));
}

// The unsharp mask on 16 bytes at a time in 16-bit lanes: the column sums of four bytes fit 16
// bits, the blur of four sums too, and s x (o - blur) stays within +-7680, whose tenth toward zero
// is the high half of its magnitude times 6554 with the sign put back.
void Sharpen8(uint8_t* out, const uint8_t* const rows[4], int32_t width, int32_t pixelSamples,
              int32_t sharpness, uint16_t* sums) {
    const int32_t n = width * pixelSamples;
    const int32_t step = pixelSamples;
    const int32_t begin = 2 * step;
    const int32_t end = (width - 2) * step;
    if (end - begin < 16) {
        SharpenRow<uint8_t, uint16_t>(out, rows, width, pixelSamples, sharpness, nullptr, sums);
        return;
    }
    int32_t i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m256i sum =
            _mm256_add_epi16(_mm256_add_epi16(Widen16(rows[0] + i), Widen16(rows[1] + i)),
                             _mm256_add_epi16(Widen16(rows[2] + i), Widen16(rows[3] + i)));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(sums + i), sum);
    }
    for (; i < n; ++i) {
        sums[i] = static_cast<uint16_t>(rows[0][i] + rows[1][i] + rows[2][i] + rows[3][i]);
    }
    const uint8_t* centre = rows[2];
    for (i = 0; i < begin; ++i) {
        out[i] = centre[i];
    }
    const __m256i amount = _mm256_set1_epi16(static_cast<int16_t>(sharpness));
    const __m256i tenth = _mm256_set1_epi16(6554);
    for (i = begin; i + 16 <= end; i += 16) {
        const __m256i blur = _mm256_srli_epi16(
            _mm256_add_epi16(
                _mm256_add_epi16(LoadSums(sums, i - 2 * step), LoadSums(sums, i - step)),
                _mm256_add_epi16(LoadSums(sums, i), LoadSums(sums, i + step))),
            4);
        const __m256i original = Widen16(centre + i);
        const __m256i product = _mm256_mullo_epi16(_mm256_sub_epi16(original, blur), amount);
        const __m256i correction =
            _mm256_sign_epi16(_mm256_mulhi_epu16(_mm256_abs_epi16(product), tenth), product);
        const __m256i value = _mm256_add_epi16(original, correction);
        const __m256i bytes = _mm256_permute4x64_epi64(_mm256_packus_epi16(value, value), 0xD8);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm256_castsi256_si128(bytes));
    }
    for (; i < end; ++i) {
        const int32_t blur = (sums[i - 2 * step] + sums[i - step] + sums[i] + sums[i + step]) >> 4;
        const int32_t original = centre[i];
        const int32_t value = original + Correction<uint8_t>(sharpness, original - blur);
        out[i] = static_cast<uint8_t>(value < 0 ? 0 : (value > 255 ? 255 : value));
    }
    for (; i < n; ++i) {
        out[i] = centre[i];
    }
    if (pixelSamples == 4) {
        for (i = 3; i < n; i += 4) {
            out[i] = centre[i];
        }
    }
}

constexpr AdjustmentRowKernels kAvx2Kernels = {HueSaturationRow, Table8, Sharpen8, nullptr,
                                                nullptr};

}  // namespace
}  // namespace quorix
#pragma GCC pop_options

namespace quorix {

const AdjustmentRowKernels* Avx2AdjustmentRowKernels() {
    return &kAvx2Kernels;
}

}  // namespace quorix

#else

#include "imaging/adjustment_rows.h"

namespace quorix {

const AdjustmentRowKernels* Avx2AdjustmentRowKernels() {
    return nullptr;
}

}  // namespace quorix

#endif
