#include "imaging/mask_correction.h"
#include "imaging/mask_correction_rows.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

// Eight samples per step in 32-bit lanes. The flat field divides in single precision:
//
// 8 bits: the numerator (v - d) x 256 and the divisor w - d are exact in a float, and so is an
// integer quotient. Any other quotient lies at least 1 / |w - d| >= 1/255 from the nearest
// integer, while rounding moves a quotient below 2^16 by at most 2^-9, so truncating the rounded
// quotient gives the integer quotient, rounded toward zero as the integer division does.
//
// 16 bits: with 0 < rise < span < 2^16 the quotient rise x 65536 / span is below 2^16 and the
// float estimate is within 2^-8 of it, so its truncation is the integer quotient or one off; the
// remainder rise x 65536 - q x span, exact in 32-bit lanes because it lies within (-span, 2 span),
// tells which and corrects it.
//
// These functions carry the AVX2 target themselves (no file-wide option), so no inline function
// shared with other files is ever compiled for AVX2.
namespace quorix {

#if defined(__x86_64__)
#define QUORIX_AVX2 __attribute__((target("avx2")))
namespace {

QUORIX_AVX2 inline __m256i Load8Bytes(const uint8_t* p) {
    return _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)));
}

QUORIX_AVX2 inline __m256i Load8Words(const uint8_t* p) {
    return _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}

QUORIX_AVX2 inline __m256i LoadBytes(const uint8_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

// All ones in the 16-bit lanes whose pixel p is the 8-bit threshold or more from the mean of
// its neighbours l, r, u, d (all 16-bit lanes).
QUORIX_AVX2 inline __m256i StandsOut8(__m256i p, __m256i l, __m256i r, __m256i u, __m256i d) {
    const __m256i sum = _mm256_add_epi16(_mm256_add_epi16(l, r), _mm256_add_epi16(u, d));
    const __m256i off = _mm256_abs_epi16(_mm256_sub_epi16(p, _mm256_srli_epi16(sum, 2)));
    return _mm256_cmpgt_epi16(off, _mm256_set1_epi16(static_cast<int16_t>(kDotThreshold8 - 1)));
}

// Eight 32-bit lanes holding 0..65535 as eight little-endian words.
QUORIX_AVX2 inline void Store8Words(uint8_t* p, __m256i v) {
    const __m256i packed = _mm256_packus_epi32(v, _mm256_setzero_si256());
    const __m256i ordered = _mm256_permute4x64_epi64(packed, 0x08);  // qwords 0 and 2
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm256_castsi256_si128(ordered));
}

}  // namespace

QUORIX_AVX2 int32_t FlatFieldRow8Avx2(uint8_t* samples, const uint8_t* dark, const uint8_t* white,
                                      int32_t count) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i one = _mm256_set1_epi32(1);
    const __m256i top = _mm256_set1_epi32(255);
    int32_t i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m256i v = Load8Bytes(samples + i);
        const __m256i d = Load8Bytes(dark + i);
        const __m256i span = _mm256_sub_epi32(Load8Bytes(white + i), d);
        const __m256i flat = _mm256_cmpeq_epi32(span, zero);
        const __m256 numerator = _mm256_cvtepi32_ps(_mm256_slli_epi32(_mm256_sub_epi32(v, d), 8));
        const __m256 divisor = _mm256_cvtepi32_ps(_mm256_blendv_epi8(span, one, flat));
        __m256i q = _mm256_cvttps_epi32(_mm256_div_ps(numerator, divisor));
        q = _mm256_min_epi32(_mm256_max_epi32(q, zero), top);
        q = _mm256_blendv_epi8(q, v, flat);
        const __m256i words = _mm256_packus_epi32(q, q);
        const __m256i bytes = _mm256_packus_epi16(words, words);
        const auto low = static_cast<uint32_t>(_mm256_cvtsi256_si32(bytes));
        const auto high = static_cast<uint32_t>(_mm256_extract_epi32(bytes, 4));
        const uint64_t eight = low | (static_cast<uint64_t>(high) << 32);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(samples + i),
                         _mm_cvtsi64_si128(static_cast<long long>(eight)));
    }
    return i;
}

QUORIX_AVX2 int32_t FlatFieldRow16Avx2(uint8_t* samples, const uint8_t* dark, const uint8_t* white,
                                       int32_t count) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i one = _mm256_set1_epi32(1);
    const __m256i top = _mm256_set1_epi32(65535);
    const __m256 scale = _mm256_set1_ps(65536.0F);
    int32_t i = 0;
    for (; i + 8 <= count; i += 8) {
        const uint8_t* at = samples + 2 * i;
        const __m256i v = Load8Words(at);
        const __m256i d = Load8Words(dark + 2 * i);
        const __m256i span = _mm256_sub_epi32(Load8Words(white + 2 * i), d);
        const __m256i rise = _mm256_sub_epi32(v, d);
        const __m256i corrects = _mm256_cmpgt_epi32(span, zero);
        const __m256i full = _mm256_cmpgt_epi32(rise, _mm256_sub_epi32(span, one));  // >= span
        const __m256i none = _mm256_cmpgt_epi32(one, rise);                          // <= 0
        const __m256i divisor = _mm256_blendv_epi8(one, span, corrects);
        __m256i q = _mm256_cvttps_epi32(_mm256_div_ps(
            _mm256_mul_ps(_mm256_cvtepi32_ps(rise), scale), _mm256_cvtepi32_ps(divisor)));
        const __m256i remainder =
            _mm256_sub_epi32(_mm256_slli_epi32(rise, 16), _mm256_mullo_epi32(q, divisor));
        q = _mm256_add_epi32(q, _mm256_cmpgt_epi32(zero, remainder));  // -1 when below
        q = _mm256_sub_epi32(
            q, _mm256_cmpgt_epi32(remainder, _mm256_sub_epi32(divisor, one)));  // +1 when above
        q = _mm256_blendv_epi8(q, top, full);
        q = _mm256_blendv_epi8(q, zero, none);
        q = _mm256_blendv_epi8(v, q, corrects);
        Store8Words(samples + 2 * i, q);
    }
    return i;
}

QUORIX_AVX2 int32_t DetectDotsRow8Avx2(uint8_t* marks, const uint8_t* up, const uint8_t* row,
                                       const uint8_t* down, const uint8_t* hot, const uint8_t* dead,
                                       int32_t count, int32_t* any) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i one = _mm256_set1_epi8(1);
    __m256i seen = zero;
    int32_t i = 0;
    for (; i + 32 <= count; i += 32) {
        const __m256i p = LoadBytes(row + i);
        const __m256i l = LoadBytes(row + i - 1);
        const __m256i r = LoadBytes(row + i + 1);
        const __m256i u = LoadBytes(up + i);
        const __m256i d = LoadBytes(down + i);
        // Widened to 16 bits within each 128-bit lane and packed back the same way.
        const __m256i low = StandsOut8(_mm256_unpacklo_epi8(p, zero), _mm256_unpacklo_epi8(l, zero),
                                       _mm256_unpacklo_epi8(r, zero), _mm256_unpacklo_epi8(u, zero),
                                       _mm256_unpacklo_epi8(d, zero));
        const __m256i high =
            StandsOut8(_mm256_unpackhi_epi8(p, zero), _mm256_unpackhi_epi8(l, zero),
                       _mm256_unpackhi_epi8(r, zero), _mm256_unpackhi_epi8(u, zero),
                       _mm256_unpackhi_epi8(d, zero));
        const __m256i defects = _mm256_or_si256(LoadBytes(hot + i), LoadBytes(dead + i));
        const __m256i mapped = _mm256_andnot_si256(_mm256_cmpeq_epi8(defects, zero), one);
        const __m256i mark =
            _mm256_or_si256(_mm256_and_si256(_mm256_packs_epi16(low, high), one), mapped);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(marks + i), mark);
        seen = _mm256_or_si256(seen, mark);
    }
    if (_mm256_testz_si256(seen, seen) == 0) {
        *any = 1;
    }
    return i;
}

QUORIX_AVX2 int32_t DetectDotsRow16Avx2(uint8_t* marks, const uint8_t* up, const uint8_t* row,
                                        const uint8_t* down, const uint8_t* hot,
                                        const uint8_t* dead, int32_t count, int32_t* any) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i limit = _mm256_set1_epi32(kDotThreshold16 - 1);
    const __m256i one = _mm256_set1_epi32(1);
    __m256i seen = zero;
    int32_t i = 0;
    for (; i + 8 <= count; i += 8) {
        const ptrdiff_t at = static_cast<ptrdiff_t>(i) * 2;
        const __m256i sum =
            _mm256_add_epi32(_mm256_add_epi32(Load8Words(row + at - 2), Load8Words(row + at + 2)),
                             _mm256_add_epi32(Load8Words(up + at), Load8Words(down + at)));
        const __m256i off =
            _mm256_abs_epi32(_mm256_sub_epi32(Load8Words(row + at), _mm256_srli_epi32(sum, 2)));
        const __m256i defects = _mm256_or_si256(Load8Words(hot + at), Load8Words(dead + at));
        const __m256i mark = _mm256_and_si256(
            _mm256_or_si256(
                _mm256_cmpgt_epi32(off, limit),
                _mm256_xor_si256(_mm256_cmpeq_epi32(defects, zero), _mm256_set1_epi32(-1))),
            one);
        Store8Words(marks + at, mark);
        seen = _mm256_or_si256(seen, mark);
    }
    if (_mm256_testz_si256(seen, seen) == 0) {
        *any = 1;
    }
    return i;
}

#else

int32_t FlatFieldRow8Avx2(uint8_t*, const uint8_t*, const uint8_t*, int32_t) {
    return 0;
}
int32_t FlatFieldRow16Avx2(uint8_t*, const uint8_t*, const uint8_t*, int32_t) {
    return 0;
}
int32_t DetectDotsRow8Avx2(uint8_t*, const uint8_t*, const uint8_t*, const uint8_t*, const uint8_t*,
                           const uint8_t*, int32_t, int32_t*) {
    return 0;
}
int32_t DetectDotsRow16Avx2(uint8_t*, const uint8_t*, const uint8_t*, const uint8_t*,
                            const uint8_t*, const uint8_t*, int32_t, int32_t*) {
    return 0;
}

#endif

}  // namespace quorix
