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

// Hue and saturation on 32 pixels at a time in the 16-bit lanes of 512-bit registers: the steps
// of HueSaturationPixel with every branch a mask. Every value fits 16 bits except three products,
// which are taken apart exactly: (c x (saturation + 256) + 128) >> 8 and (w x f + 128) >> 8 are
// rounding high halves of (c x 128) x (saturation + 256) and w x (f x 128); the ramp times the
// reciprocal 0xFF0000 / c, rounded at bit 16, is ramp x high half + the high 16 bits of ramp x
// low half + bit 15 of its low 16 bits. The reciprocal's halves come from 256-entry word tables
// by four two-register permutes each.
struct ReciprocalHalves {
    alignas(64) uint16_t high[256];
    alignas(64) uint16_t low[256];
};

const ReciprocalHalves& Reciprocals() {
    static const ReciprocalHalves halves = [] {
        ReciprocalHalves h{};
        const auto& reciprocal = FixedHueSaturationTables().reciprocal;
        for (size_t c = 0; c < 256; ++c) {
            h.high[c] = static_cast<uint16_t>(reciprocal[c] >> 16);
            h.low[c] = static_cast<uint16_t>(reciprocal[c] & 0xFFFF);
        }
        return h;
    }();
    return halves;
}

// For each sector (lane j), the channels at the top (bits 0-2: blue, green, red) and on the ramp
// (bits 3-5); the rest sit at the bottom.
constexpr uint16_t kTopBlue = 1;
constexpr uint16_t kTopGreen = 2;
constexpr uint16_t kTopRed = 4;
constexpr uint16_t kRampBlue = 8;
constexpr uint16_t kRampGreen = 16;
constexpr uint16_t kRampRed = 32;
alignas(64) constexpr uint16_t kSectorRoles[32] = {
    kTopRed | kRampBlue,   kTopRed | kRampGreen,  kTopGreen | kRampRed,
    kTopGreen | kRampBlue, kTopBlue | kRampGreen, kTopBlue | kRampRed};

struct HueConstants {
    __m512i shiftRemainder;  // shift mod 255
    __m512i shiftSectors;    // shift div 255
    __m512i saturation;      // saturation + 256
    __m512i roles;           // kSectorRoles
    const uint16_t* high;
    const uint16_t* low;
};

// A 256-entry word table for the bytes 0..255 in 16-bit lanes; bit6 and bit7 mark the lanes with
// those bits set.
QUORIX_AVX512_INLINE __m512i LookUpWords(const uint16_t* table, __m512i index, __mmask32 bit6,
                                         __mmask32 bit7) {
    const __m512i* t = reinterpret_cast<const __m512i*>(table);
    const __m512i r0 = _mm512_permutex2var_epi16(_mm512_load_si512(t), index, _mm512_load_si512(t + 1));
    const __m512i r1 = _mm512_permutex2var_epi16(_mm512_load_si512(t + 2), index, _mm512_load_si512(t + 3));
    const __m512i r2 = _mm512_permutex2var_epi16(_mm512_load_si512(t + 4), index, _mm512_load_si512(t + 5));
    const __m512i r3 = _mm512_permutex2var_epi16(_mm512_load_si512(t + 6), index, _mm512_load_si512(t + 7));
    return _mm512_mask_blend_epi16(bit7, _mm512_mask_blend_epi16(bit6, r0, r1),
                                   _mm512_mask_blend_epi16(bit6, r2, r3));
}

// Thirty-two pixels' blue, green, red (0..255 in 16-bit lanes) through hue and saturation, into
// out[0..2] the same way.
QUORIX_AVX512_INLINE void HueSaturation32(__m512i blue, __m512i green, __m512i red,
                                          const HueConstants& k, __m512i out[3]) {
    const __m512i zero = _mm512_setzero_si512();
    const __m512i one = _mm512_set1_epi16(1);
    const __m512i top = _mm512_max_epu16(_mm512_max_epu16(blue, green), red);
    const __m512i bottom = _mm512_min_epu16(_mm512_min_epu16(blue, green), red);
    const __m512i chroma = _mm512_sub_epi16(top, bottom);
    const __mmask32 blueTop = _mm512_cmpgt_epu16_mask(blue, _mm512_max_epu16(red, green));
    const __mmask32 greenAboveRed = _mm512_cmpgt_epu16_mask(green, red);
    // Sector 1 (red at least green) ramps green - blue, sector 3 blue - red, sector 5 red - green.
    __m512i ramp = _mm512_mask_blend_epi16(greenAboveRed, _mm512_sub_epi16(green, blue),
                                           _mm512_sub_epi16(blue, red));
    ramp = _mm512_mask_blend_epi16(blueTop, ramp, _mm512_sub_epi16(red, green));
    __m512i sector =
        _mm512_mask_blend_epi16(greenAboveRed, _mm512_set1_epi16(1), _mm512_set1_epi16(3));
    sector = _mm512_mask_blend_epi16(blueTop, sector, _mm512_set1_epi16(5));
    const __mmask32 negative = _mm512_cmplt_epi16_mask(ramp, zero);
    sector = _mm512_mask_sub_epi16(sector, negative, sector, one);
    ramp = _mm512_mask_add_epi16(ramp, negative, ramp, chroma);

    const __m512i lightness = _mm512_add_epi16(top, bottom);
    const __m512i limit =
        _mm512_min_epi16(lightness, _mm512_sub_epi16(_mm512_set1_epi16(511), lightness));
    const __m512i saturated = _mm512_mulhrs_epi16(_mm512_slli_epi16(chroma, 7), k.saturation);
    const __m512i m = _mm512_min_epi16(limit, saturated);
    const __m512i n = _mm512_srli_epi16(_mm512_sub_epi16(lightness, m), 1);
    const __m512i w = _mm512_sub_epi16(_mm512_srli_epi16(_mm512_add_epi16(lightness, m), 1), n);

    const __mmask32 bit6 = _mm512_test_epi16_mask(chroma, _mm512_set1_epi16(64));
    const __mmask32 bit7 = _mm512_test_epi16_mask(chroma, _mm512_set1_epi16(128));
    const __m512i high = LookUpWords(k.high, chroma, bit6, bit7);
    const __m512i low = LookUpWords(k.low, chroma, bit6, bit7);
    __m512i v = _mm512_add_epi16(
        _mm512_add_epi16(_mm512_mullo_epi16(ramp, high), _mm512_mulhi_epu16(ramp, low)),
        _mm512_srli_epi16(_mm512_mullo_epi16(ramp, low), 15));
    v = _mm512_add_epi16(v, k.shiftRemainder);
    const __mmask32 over = _mm512_cmpgt_epi16_mask(v, _mm512_set1_epi16(254));
    sector = _mm512_add_epi16(sector, k.shiftSectors);
    sector = _mm512_mask_add_epi16(sector, over, sector, one);
    sector = _mm512_mask_sub_epi16(sector, _mm512_cmpgt_epi16_mask(sector, _mm512_set1_epi16(5)),
                                   sector, _mm512_set1_epi16(6));
    const __m512i fraction = _mm512_mask_sub_epi16(v, over, v, _mm512_set1_epi16(255));
    const __m512i t = _mm512_mulhrs_epi16(w, _mm512_slli_epi16(fraction, 7));

    const __m512i topValue = _mm512_add_epi16(n, w);
    const __mmask32 rising = _mm512_test_epi16_mask(sector, one);
    const __m512i rampValue =
        _mm512_mask_blend_epi16(rising, _mm512_sub_epi16(topValue, t), _mm512_add_epi16(n, t));
    const __m512i roles = _mm512_permutexvar_epi16(sector, k.roles);
    constexpr uint16_t kTop[3] = {kTopBlue, kTopGreen, kTopRed};
    constexpr uint16_t kRamp[3] = {kRampBlue, kRampGreen, kRampRed};
    for (int c = 0; c < 3; ++c) {
        const __m512i value = _mm512_mask_blend_epi16(
            _mm512_test_epi16_mask(roles, _mm512_set1_epi16(static_cast<int16_t>(kRamp[c]))), n,
            rampValue);
        out[c] = _mm512_mask_blend_epi16(
            _mm512_test_epi16_mask(roles, _mm512_set1_epi16(static_cast<int16_t>(kTop[c]))), value,
            topValue);
    }
}

// Byte permutes between 32 pixels of 3 or 4 bytes (two registers, 128 bytes at most) and 16-bit
// lanes: spread[c] puts byte `pixel x samples + c` into lane `pixel`'s low byte, and pack[h]
// gives output bytes 64h .. 64h + 63 from a register of blue | green << 8 and one of red.
struct PixelPermutes {
    alignas(64) uint8_t spread[3][64];
    alignas(64) uint8_t pack[2][64];
};

constexpr PixelPermutes MakePixelPermutes(int samples) {
    PixelPermutes p{};
    for (int c = 0; c < 3; ++c) {
        for (int lane = 0; lane < 32; ++lane) {
            p.spread[c][2 * lane] = static_cast<uint8_t>(lane * samples + c);
            p.spread[c][2 * lane + 1] = 0;
        }
    }
    for (int h = 0; h < 2; ++h) {
        for (int i = 0; i < 64; ++i) {
            const int byte = 64 * h + i;
            const int pixel = byte / samples;
            const int c = byte % samples;
            int index = 0;
            if (pixel < 32 && c < 3) {
                index = c == 2 ? 64 + 2 * pixel : 2 * pixel + c;
            }
            p.pack[h][i] = static_cast<uint8_t>(index);
        }
    }
    return p;
}

constexpr PixelPermutes kThreeBytePixels = MakePixelPermutes(3);
constexpr PixelPermutes kFourBytePixels = MakePixelPermutes(4);

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
// `table`, when given, on the colour bytes of the result; a fourth byte comes out 0, as the
// pipeline writes it.
QUORIX_AVX512_VBMI void HueTableRowAvx512(uint8_t* out, const uint8_t* in, int32_t width,
                                          int32_t pixelSamples, const HueRowParams& params,
                                          const uint8_t* table) {
    const ReciprocalHalves& reciprocals = Reciprocals();
    HueConstants k;
    k.shiftRemainder = _mm512_set1_epi16(static_cast<int16_t>(params.shift % 255));
    k.shiftSectors = _mm512_set1_epi16(static_cast<int16_t>(params.shift / 255));
    k.saturation = _mm512_set1_epi16(static_cast<int16_t>(params.saturationFactor >> 8));
    k.roles = _mm512_load_si512(kSectorRoles);
    k.high = reciprocals.high;
    k.low = reciprocals.low;
    const PixelPermutes& permutes = pixelSamples == 3 ? kThreeBytePixels : kFourBytePixels;
    const __m512i spread[3] = {_mm512_load_si512(permutes.spread[0]),
                               _mm512_load_si512(permutes.spread[1]),
                               _mm512_load_si512(permutes.spread[2])};
    const __m512i pack[2] = {_mm512_load_si512(permutes.pack[0]),
                             _mm512_load_si512(permutes.pack[1])};
    const ByteTable bytes = table != nullptr ? LoadByteTable(table) : ByteTable{};
    constexpr __mmask64 kLowBytes = 0x5555555555555555ULL;
    // The colour bytes of a step's output: all but the fourth bytes of four-byte pixels.
    const __mmask64 colour = pixelSamples == 4 ? ~kFourthBytes : ~0ULL;
    const int32_t stepBytes = 32 * pixelSamples;
    // The bytes of a step starting at pixel x in its two registers.
    const auto masksFor = [width, pixelSamples](int32_t x, __mmask64 masks[2]) {
        const int32_t count = (width - x < 32 ? width - x : 32) * pixelSamples;
        masks[0] = count >= 64 ? ~0ULL : (1ULL << count) - 1;
        masks[1] = count >= 128 ? ~0ULL : count <= 64 ? 0 : (1ULL << (count - 64)) - 1;
    };
    // Each step's bytes are loaded before the step before it stores its own: a load that follows
    // a masked store whose 64-byte span it overlaps waits for that store to reach the cache.
    __mmask64 inStep[2];
    masksFor(0, inStep);
    __m512i data[2] = {_mm512_maskz_loadu_epi8(inStep[0], in),
                       _mm512_maskz_loadu_epi8(inStep[1], in + 64)};
    for (int32_t x = 0; x < width; x += 32) {
        const ptrdiff_t offset = static_cast<ptrdiff_t>(x) * pixelSamples;
        __m512i channels[3];
        HueSaturation32(_mm512_maskz_permutex2var_epi8(kLowBytes, data[0], spread[0], data[1]),
                        _mm512_maskz_permutex2var_epi8(kLowBytes, data[0], spread[1], data[1]),
                        _mm512_maskz_permutex2var_epi8(kLowBytes, data[0], spread[2], data[1]), k,
                        channels);
        const __m512i blueGreen = _mm512_or_si512(channels[0], _mm512_slli_epi16(channels[1], 8));
        __m512i result[2];
        for (int h = 0; h < 2; ++h) {
            result[h] = _mm512_maskz_permutex2var_epi8(colour, blueGreen, pack[h], channels[2]);
            if (table != nullptr) {
                result[h] = _mm512_maskz_mov_epi8(colour, LookUp(bytes, result[h]));
            }
        }
        const __mmask64 stored[2] = {inStep[0], inStep[1]};
        if (x + 32 < width) {
            masksFor(x + 32, inStep);
            data[0] = _mm512_maskz_loadu_epi8(inStep[0], in + offset + stepBytes);
            data[1] = _mm512_maskz_loadu_epi8(inStep[1], in + offset + stepBytes + 64);
        }
        _mm512_mask_storeu_epi8(out + offset, stored[0], result[0]);
        _mm512_mask_storeu_epi8(out + offset + 64, stored[1], result[1]);
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
