#include <array>
#include <cstddef>
#include <cstdint>

#include "imaging/adjustment_rows.h"
#include "imaging/adjustments.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

// Hue and saturation on 16 pixels at a time in the 32-bit lanes of 512-bit registers: the same
// steps as the AVX2 kernel (adjustments_avx2.cpp), with mask registers for its blends and byte
// permutes that spread three-byte pixels into lanes and pack them back, masked at the row's end
// so that no byte beyond the row is read or written.
//
// The 256-entry table of the channel steps with AVX-512 byte permutes: the table sits in four
// 64-byte registers, one two-register permute looks up the low 128 entries and one the high 128
// for 64 bytes at a time, and bit 7 of each byte picks between them. A fourth byte of 32-bit
// pixels is kept by a blend mask; the row's last bytes go through masked loads and stores, so no
// byte beyond the row is read or written. The target is switched on for these functions only;
// they run only after the processor check in image_adjuster.cpp.
namespace quorix {

#if defined(__x86_64__)
// GCC 12 takes the undefined pass-through operand of its 512-bit min/max intrinsics for an
// uninitialised variable.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
namespace {

#define QUORIX_AVX512_VBMI __attribute__((target("avx512f,avx512bw,avx512vbmi")))
#define QUORIX_AVX512_INLINE QUORIX_AVX512_VBMI inline __attribute__((always_inline))

// The sectors (bit j for sector j) in which a channel sits at the top or takes the ramp: red,
// green, blue.
constexpr int32_t kTopSectors[3] = {0b000011, 0b001100, 0b110000};
constexpr int32_t kRampSectors[3] = {0b100100, 0b010010, 0b001001};

QUORIX_AVX512_INLINE __mmask16 InSectors(__m512i sector, int32_t sectors) {
    const __m512i bit = _mm512_srlv_epi32(_mm512_set1_epi32(sectors), sector);
    return _mm512_test_epi32_mask(bit, _mm512_set1_epi32(1));
}

// Sixteen pixels' blue, green, red (0..255 in 32-bit lanes) through hue and saturation; returns
// them packed as B | G << 8 | R << 16.
QUORIX_AVX512_INLINE __m512i HueSaturation16(__m512i blue, __m512i green, __m512i red,
                                             __m512i shiftRemainder, __m512i shiftSectors,
                                             __m512i saturationFactor) {
    const __m512i zero = _mm512_setzero_si512();
    const __m512i top = _mm512_max_epi32(_mm512_max_epi32(blue, green), red);
    const __m512i bottom = _mm512_min_epi32(_mm512_min_epi32(blue, green), red);
    const __m512i chroma = _mm512_sub_epi32(top, bottom);
    const __mmask16 blueTop = _mm512_cmpgt_epi32_mask(blue, _mm512_max_epi32(red, green));
    const __mmask16 greenAboveRed = _mm512_cmpgt_epi32_mask(green, red);
    // Sector 1 (red at least green) ramps green - blue, sector 3 blue - red, sector 5 red - green.
    __m512i ramp = _mm512_mask_blend_epi32(greenAboveRed, _mm512_sub_epi32(green, blue),
                                           _mm512_sub_epi32(blue, red));
    ramp = _mm512_mask_blend_epi32(blueTop, ramp, _mm512_sub_epi32(red, green));
    __m512i sector =
        _mm512_mask_blend_epi32(greenAboveRed, _mm512_set1_epi32(1), _mm512_set1_epi32(3));
    sector = _mm512_mask_blend_epi32(blueTop, sector, _mm512_set1_epi32(5));
    const __mmask16 negative = _mm512_cmpgt_epi32_mask(zero, ramp);
    sector = _mm512_mask_sub_epi32(sector, negative, sector, _mm512_set1_epi32(1));
    ramp = _mm512_mask_add_epi32(ramp, negative, ramp, chroma);

    const __m512i lightness = _mm512_add_epi32(top, bottom);
    const __m512i limit =
        _mm512_min_epi32(lightness, _mm512_sub_epi32(_mm512_set1_epi32(511), lightness));
    // Chroma and saturation + 256 both fit 16 bits: (c x F + 32768) >> 16 with F = that x 256 is
    // (c x (saturation + 256) + 128) >> 8, one 16-bit multiply-add.
    const __m512i saturated = _mm512_srli_epi32(
        _mm512_add_epi32(_mm512_madd_epi16(chroma, saturationFactor), _mm512_set1_epi32(128)), 8);
    const __m512i m = _mm512_min_epi32(limit, saturated);
    const __m512i n = _mm512_srli_epi32(_mm512_sub_epi32(lightness, m), 1);
    const __m512i w = _mm512_sub_epi32(_mm512_srli_epi32(_mm512_add_epi32(lightness, m), 1), n);

    // The reciprocal 0xFF0000 / chroma, as in the AVX2 kernel: the truncated single-precision
    // quotient, one less where its product with the chroma exceeds the dividend. Every product
    // here stays below 2^24, so single precision holds it exactly.
    const __m512 dividend = _mm512_set1_ps(16711680.0f);
    const __m512 chromaF = _mm512_cvtepi32_ps(chroma);
    __m512 q = _mm512_roundscale_ps(_mm512_div_ps(dividend, chromaF),
                                    _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
    q = _mm512_mask_sub_ps(q, _mm512_cmp_ps_mask(_mm512_mul_ps(q, chromaF), dividend, _CMP_GT_OQ),
                           q, _mm512_set1_ps(1.0f));
    q = _mm512_maskz_mov_ps(_mm512_test_epi32_mask(chroma, chroma), q);
    const __m512i scaled = _mm512_cvttps_epi32(_mm512_mul_ps(_mm512_cvtepi32_ps(ramp), q));
    __m512i v = _mm512_srli_epi32(_mm512_add_epi32(scaled, _mm512_set1_epi32(32768)), 16);
    v = _mm512_add_epi32(v, shiftRemainder);
    const __mmask16 over = _mm512_cmpgt_epi32_mask(v, _mm512_set1_epi32(254));
    sector = _mm512_add_epi32(sector, shiftSectors);
    sector = _mm512_mask_add_epi32(sector, over, sector, _mm512_set1_epi32(1));
    sector = _mm512_mask_sub_epi32(sector, _mm512_cmpgt_epi32_mask(sector, _mm512_set1_epi32(5)),
                                   sector, _mm512_set1_epi32(6));
    const __m512i fraction = _mm512_mask_sub_epi32(v, over, v, _mm512_set1_epi32(255));
    const __m512i t = _mm512_srli_epi32(
        _mm512_add_epi32(_mm512_madd_epi16(w, fraction), _mm512_set1_epi32(128)), 8);

    const __m512i topValue = _mm512_add_epi32(n, w);
    const __mmask16 rising = _mm512_test_epi32_mask(sector, _mm512_set1_epi32(1));
    const __m512i rampValue =
        _mm512_mask_blend_epi32(rising, _mm512_sub_epi32(topValue, t), _mm512_add_epi32(n, t));
    __m512i out[3];
    for (int c = 0; c < 3; ++c) {
        __m512i value = _mm512_mask_blend_epi32(InSectors(sector, kRampSectors[c]), n, rampValue);
        out[c] = _mm512_mask_blend_epi32(InSectors(sector, kTopSectors[c]), value, topValue);
    }
    return _mm512_or_si512(_mm512_or_si512(out[2], _mm512_slli_epi32(out[1], 8)),
                           _mm512_slli_epi32(out[0], 16));
}

// Byte permutes between 16 three-byte pixels and 16 lanes: lane k takes byte 3k + c for channel
// c (the other bytes zeroed by a mask), and packed lanes give back bytes 4k + c at 3k + c.
struct ThreeBytePermutes {
    alignas(64) uint8_t spread[3][64];
    alignas(64) uint8_t pack[64];
};

constexpr ThreeBytePermutes MakeThreeBytePermutes() {
    ThreeBytePermutes p{};
    for (int c = 0; c < 3; ++c) {
        for (int k = 0; k < 16; ++k) {
            for (int b = 0; b < 4; ++b) {
                p.spread[c][4 * k + b] = static_cast<uint8_t>(3 * k + c);
            }
        }
    }
    for (int i = 0; i < 64; ++i) {
        p.pack[i] = static_cast<uint8_t>(i < 48 ? 4 * (i / 3) + i % 3 : 0);
    }
    return p;
}

constexpr ThreeBytePermutes kThreeBytePermutes = MakeThreeBytePermutes();

QUORIX_AVX512_VBMI void HueSaturationRowAvx512(uint8_t* row, int32_t width, int32_t pixelSamples,
                                               const HueRowParams& params) {
    const __m512i shiftRemainder = _mm512_set1_epi32(params.shift % 255);
    const __m512i shiftSectors = _mm512_set1_epi32(params.shift / 255);
    const __m512i factor = _mm512_set1_epi32(static_cast<int32_t>(params.saturationFactor >> 8));
    const __m512i byteMask = _mm512_set1_epi32(0xFF);
    constexpr __mmask64 kLowByte = 0x1111111111111111ULL;
    if (pixelSamples == 3) {
        const __m512i spreadBlue = _mm512_load_si512(kThreeBytePermutes.spread[0]);
        const __m512i spreadGreen = _mm512_load_si512(kThreeBytePermutes.spread[1]);
        const __m512i spreadRed = _mm512_load_si512(kThreeBytePermutes.spread[2]);
        const __m512i pack = _mm512_load_si512(kThreeBytePermutes.pack);
        for (int32_t x = 0; x < width; x += 16) {
            const int32_t pixels = width - x < 16 ? width - x : 16;
            const __mmask64 bytes = pixels == 16 ? (1ULL << 48) - 1 : (1ULL << (3 * pixels)) - 1;
            uint8_t* p = row + static_cast<ptrdiff_t>(x) * 3;
            const __m512i data = _mm512_maskz_loadu_epi8(bytes, p);
            const __m512i packed =
                HueSaturation16(_mm512_maskz_permutexvar_epi8(kLowByte, spreadBlue, data),
                                _mm512_maskz_permutexvar_epi8(kLowByte, spreadGreen, data),
                                _mm512_maskz_permutexvar_epi8(kLowByte, spreadRed, data),
                                shiftRemainder, shiftSectors, factor);
            _mm512_mask_storeu_epi8(p, bytes, _mm512_permutexvar_epi8(pack, packed));
        }
        return;
    }
    for (int32_t x = 0; x < width; x += 16) {
        const int32_t pixels = width - x < 16 ? width - x : 16;
        const auto lanes = static_cast<__mmask16>(pixels == 16 ? 0xFFFF : (1u << pixels) - 1);
        uint8_t* p = row + static_cast<ptrdiff_t>(x) * 4;
        const __m512i data = _mm512_maskz_loadu_epi32(lanes, p);
        // The fourth byte comes out 0, as the pipeline writes it.
        const __m512i packed =
            HueSaturation16(_mm512_and_si512(data, byteMask),
                            _mm512_and_si512(_mm512_srli_epi32(data, 8), byteMask),
                            _mm512_and_si512(_mm512_srli_epi32(data, 16), byteMask), shiftRemainder,
                            shiftSectors, factor);
        _mm512_mask_storeu_epi32(p, lanes, packed);
    }
}

QUORIX_AVX512_VBMI void TableRowVbmi(uint8_t* out, const uint8_t* in, int32_t width,
                                     int32_t pixelSamples, const uint8_t* table) {
    const __m512i low0 = _mm512_loadu_si512(table);
    const __m512i low1 = _mm512_loadu_si512(table + 64);
    const __m512i high0 = _mm512_loadu_si512(table + 128);
    const __m512i high1 = _mm512_loadu_si512(table + 192);
    // Bytes to look up: all, or all but every fourth.
    const __mmask64 colour = pixelSamples == 4 ? 0x7777777777777777ULL : ~0ULL;
    const size_t n = static_cast<size_t>(width) * static_cast<size_t>(pixelSamples);
    for (size_t i = 0; i < n; i += 64) {
        const __mmask64 inRow = n - i >= 64 ? ~0ULL : (1ULL << (n - i)) - 1;
        const __m512i index = _mm512_maskz_loadu_epi8(inRow, in + i);
        const __m512i low = _mm512_permutex2var_epi8(low0, index, low1);
        const __m512i high = _mm512_permutex2var_epi8(high0, index, high1);
        const __m512i mapped = _mm512_mask_blend_epi8(_mm512_movepi8_mask(index), low, high);
        _mm512_mask_storeu_epi8(out + i, inRow, _mm512_mask_blend_epi8(colour, index, mapped));
    }
}

}  // namespace
#pragma GCC diagnostic pop

TableRowKernel Avx512VbmiTableRowKernel() {
    return TableRowVbmi;
}

HueRowKernel Avx512VbmiHueRowKernel() {
    return HueSaturationRowAvx512;
}

#else

TableRowKernel Avx512VbmiTableRowKernel() {
    return nullptr;
}

HueRowKernel Avx512VbmiHueRowKernel() {
    return nullptr;
}

#endif

}  // namespace quorix
