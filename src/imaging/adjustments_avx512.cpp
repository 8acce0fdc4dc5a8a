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
// The 256-entry table of the channel steps with AVX-512 byte permutes (ByteTable below), on its
// own or fused into the hue and saturation kernel and into the unsharp mask, which takes 64 bytes
// a step in 16-bit lanes. A fourth byte of 32-bit pixels is kept by a blend mask; the row's last
// bytes go through masked loads and stores, so no byte beyond the row is read or written. The
// target is switched on for these functions only; they run only after the processor check in
// image_adjuster.cpp.
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

// A 256-entry byte table in four registers; LookUp maps 64 bytes at a time with one
// two-register permute for the low 128 entries, one for the high 128, and bit 7 of each byte
// choosing between them.
struct ByteTable {
    __m512i low0;
    __m512i low1;
    __m512i high0;
    __m512i high1;
};

QUORIX_AVX512_INLINE ByteTable LoadByteTable(const uint8_t* table) {
    return {_mm512_loadu_si512(table), _mm512_loadu_si512(table + 64),
            _mm512_loadu_si512(table + 128), _mm512_loadu_si512(table + 192)};
}

QUORIX_AVX512_INLINE __m512i LookUp(const ByteTable& table, __m512i index) {
    const __m512i low = _mm512_permutex2var_epi8(table.low0, index, table.low1);
    const __m512i high = _mm512_permutex2var_epi8(table.high0, index, table.high1);
    return _mm512_mask_blend_epi8(_mm512_movepi8_mask(index), low, high);
}

// The fourth bytes of 32-bit pixels in a 64-byte block that starts on a pixel.
constexpr __mmask64 kFourthBytes = 0x8888888888888888ULL;

// Hue and saturation from `in` to `out` (the same row, or another of the same size), with
// `table`, when given, on the colour bytes of the result.
QUORIX_AVX512_VBMI void HueTableRowAvx512(uint8_t* out, const uint8_t* in, int32_t width,
                                          int32_t pixelSamples, const HueRowParams& params,
                                          const uint8_t* table) {
    const __m512i shiftRemainder = _mm512_set1_epi32(params.shift % 255);
    const __m512i shiftSectors = _mm512_set1_epi32(params.shift / 255);
    const __m512i factor = _mm512_set1_epi32(static_cast<int32_t>(params.saturationFactor >> 8));
    const __m512i byteMask = _mm512_set1_epi32(0xFF);
    const ByteTable bytes = table != nullptr ? LoadByteTable(table) : ByteTable{};
    constexpr __mmask64 kLowByte = 0x1111111111111111ULL;
    // Each step's bytes are loaded before the step before it stores its own: a load that follows
    // a masked store whose 64-byte span it overlaps waits for that store to reach the cache.
    const int32_t stepBytes = 16 * pixelSamples;
    const auto maskFor = [width, pixelSamples](int32_t x) -> __mmask64 {
        const int32_t pixels = width - x < 16 ? width - x : 16;
        const int32_t count = pixels * pixelSamples;
        return count == 64 ? ~0ULL : (1ULL << count) - 1;
    };
    __mmask64 inStep = maskFor(0);
    __m512i data = _mm512_maskz_loadu_epi8(inStep, in);
    const __m512i spreadBlue = _mm512_load_si512(kThreeBytePermutes.spread[0]);
    const __m512i spreadGreen = _mm512_load_si512(kThreeBytePermutes.spread[1]);
    const __m512i spreadRed = _mm512_load_si512(kThreeBytePermutes.spread[2]);
    const __m512i pack = _mm512_load_si512(kThreeBytePermutes.pack);
    for (int32_t x = 0; x < width; x += 16) {
        const ptrdiff_t offset = static_cast<ptrdiff_t>(x) * pixelSamples;
        __m512i result;
        if (pixelSamples == 3) {
            const __m512i packed =
                HueSaturation16(_mm512_maskz_permutexvar_epi8(kLowByte, spreadBlue, data),
                                _mm512_maskz_permutexvar_epi8(kLowByte, spreadGreen, data),
                                _mm512_maskz_permutexvar_epi8(kLowByte, spreadRed, data),
                                shiftRemainder, shiftSectors, factor);
            result = _mm512_permutexvar_epi8(pack, packed);
            if (table != nullptr) {
                result = LookUp(bytes, result);
            }
        } else {
            // The fourth byte comes out 0, as the pipeline writes it.
            result = HueSaturation16(_mm512_and_si512(data, byteMask),
                                     _mm512_and_si512(_mm512_srli_epi32(data, 8), byteMask),
                                     _mm512_and_si512(_mm512_srli_epi32(data, 16), byteMask),
                                     shiftRemainder, shiftSectors, factor);
            if (table != nullptr) {
                result = _mm512_mask_blend_epi8(kFourthBytes, LookUp(bytes, result), result);
            }
        }
        const __mmask64 stored = inStep;
        if (x + 16 < width) {
            inStep = maskFor(x + 16);
            data = _mm512_maskz_loadu_epi8(inStep, in + offset + stepBytes);
        }
        _mm512_mask_storeu_epi8(out + offset, stored, result);
    }
}

QUORIX_AVX512_VBMI void HueSaturationRowAvx512(uint8_t* row, int32_t width, int32_t pixelSamples,
                                               const HueRowParams& params) {
    HueTableRowAvx512(row, row, width, pixelSamples, params, nullptr);
}

QUORIX_AVX512_VBMI void TableRowVbmi(uint8_t* out, const uint8_t* in, int32_t width,
                                     int32_t pixelSamples, const uint8_t* table) {
    const ByteTable bytes = LoadByteTable(table);
    // Bytes to look up: all, or all but every fourth.
    const __mmask64 colour = pixelSamples == 4 ? ~kFourthBytes : ~0ULL;
    const size_t n = static_cast<size_t>(width) * static_cast<size_t>(pixelSamples);
    for (size_t i = 0; i < n; i += 64) {
        const __mmask64 inRow = n - i >= 64 ? ~0ULL : (1ULL << (n - i)) - 1;
        const __m512i index = _mm512_maskz_loadu_epi8(inRow, in + i);
        _mm512_mask_storeu_epi8(out + i, inRow,
                                _mm512_mask_blend_epi8(colour, index, LookUp(bytes, index)));
    }
}

// Sixteen-bit lanes of the 32 bytes in half `half` of a 64-byte block.
QUORIX_AVX512_INLINE __m512i WidenHalf(__m512i block, int half) {
    return _mm512_cvtepu8_epi16(half == 0 ? _mm512_castsi512_si256(block)
                                          : _mm512_extracti64x4_epi64(block, 1));
}

// The unsharp mask of one row, 64 bytes a step in two halves of 32 16-bit lanes, with `table`,
// when given, on the colour bytes written (the outer columns copied through it): the bytes of
// SharpenRow followed by the table. The column sums of four bytes fit 16 bits, s x (o - blur)
// stays within +-7650, whose tenth toward zero is the high half of its magnitude times 6554 with
// the sign put back.
QUORIX_AVX512_VBMI void SharpenTableRowAvx512(uint8_t* out, const uint8_t* const rows[4],
                                              int32_t width, int32_t pixelSamples,
                                              int32_t sharpness, uint16_t* sums,
                                              const uint8_t* table) {
    const int32_t n = width * pixelSamples;
    const int32_t step = pixelSamples;
    const int32_t begin = 2 * step;
    const int32_t end = (width - 2) * step;
    const auto tail = [](int32_t left) { return left >= 64 ? ~0ULL : (1ULL << left) - 1; };
    for (int32_t i = 0; i < n; i += 64) {
        const __mmask64 m = tail(n - i);
        __m512i low = _mm512_setzero_si512();
        __m512i high = _mm512_setzero_si512();
        for (int r = 0; r < 4; ++r) {
            const __m512i block = _mm512_maskz_loadu_epi8(m, rows[r] + i);
            low = _mm512_add_epi16(low, WidenHalf(block, 0));
            high = _mm512_add_epi16(high, WidenHalf(block, 1));
        }
        _mm512_mask_storeu_epi16(sums + i, static_cast<__mmask32>(m), low);
        _mm512_mask_storeu_epi16(sums + i + 32, static_cast<__mmask32>(m >> 32), high);
    }
    const uint8_t* centre = rows[2];
    const ByteTable bytes = table != nullptr ? LoadByteTable(table) : ByteTable{};
    const __mmask64 fourth = pixelSamples == 4 ? kFourthBytes : 0;
    const __m512i zero = _mm512_setzero_si512();
    const __m512i amount = _mm512_set1_epi16(static_cast<int16_t>(sharpness));
    const __m512i tenth = _mm512_set1_epi16(6554);
    for (int32_t i = begin; i < end; i += 64) {
        const __mmask64 m = tail(end - i);
        const __m512i original = _mm512_maskz_loadu_epi8(m, centre + i);
        __m256i halves[2];
        for (int h = 0; h < 2; ++h) {
            const int32_t j = i + 32 * h;
            const auto lanes = static_cast<__mmask32>(m >> (32 * h));
            const __m512i blur = _mm512_srli_epi16(
                _mm512_add_epi16(
                    _mm512_add_epi16(_mm512_maskz_loadu_epi16(lanes, sums + j - 2 * step),
                                     _mm512_maskz_loadu_epi16(lanes, sums + j - step)),
                    _mm512_add_epi16(_mm512_maskz_loadu_epi16(lanes, sums + j),
                                     _mm512_maskz_loadu_epi16(lanes, sums + j + step))),
                4);
            const __m512i o = WidenHalf(original, h);
            const __m512i product = _mm512_mullo_epi16(_mm512_sub_epi16(o, blur), amount);
            const __m512i quotient = _mm512_mulhi_epu16(_mm512_abs_epi16(product), tenth);
            const __m512i correction = _mm512_mask_sub_epi16(
                quotient, _mm512_cmplt_epi16_mask(product, zero), zero, quotient);
            const __m512i value = _mm512_max_epi16(_mm512_add_epi16(o, correction), zero);
            halves[h] = _mm512_cvtusepi16_epi8(value);
        }
        __m512i result = _mm512_inserti64x4(_mm512_castsi256_si512(halves[0]), halves[1], 1);
        if (table != nullptr) {
            result = LookUp(bytes, result);
        }
        // begin is a whole number of pixels and each step 16 four-byte pixels: the fourth bytes
        // stay in their places.
        _mm512_mask_storeu_epi8(out + i, m, _mm512_mask_blend_epi8(fourth, result, original));
    }
    const auto copy = [&](int32_t i) {
        const bool colour = pixelSamples != 4 || i % 4 != 3;
        out[i] = colour && table != nullptr ? table[centre[i]] : centre[i];
    };
    for (int32_t i = 0; i < begin && i < n; ++i) {
        copy(i);
    }
    for (int32_t i = end > begin ? end : begin; i < n; ++i) {
        copy(i);
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

HueTableRowKernel Avx512VbmiHueTableRowKernel() {
    return HueTableRowAvx512;
}

SharpenTableRowKernel Avx512VbmiSharpenTableRowKernel() {
    return SharpenTableRowAvx512;
}

#else

TableRowKernel Avx512VbmiTableRowKernel() {
    return nullptr;
}

HueRowKernel Avx512VbmiHueRowKernel() {
    return nullptr;
}

HueTableRowKernel Avx512VbmiHueTableRowKernel() {
    return nullptr;
}

SharpenTableRowKernel Avx512VbmiSharpenTableRowKernel() {
    return nullptr;
}

#endif

}  // namespace quorix
