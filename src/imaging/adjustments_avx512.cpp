#include <cstddef>
#include <cstdint>

#include "imaging/adjustment_rows.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

// The 256-entry table of the channel steps with AVX-512 byte permutes: the table sits in four
// 64-byte registers, one two-register permute looks up the low 128 entries and one the high 128
// for 64 bytes at a time, and bit 7 of each byte picks between them. A fourth byte of 32-bit
// pixels is kept by a blend mask; the row's last bytes go through masked loads and stores, so no
// byte beyond the row is read or written. The target is switched on for these functions only;
// they run only after the processor check in image_adjuster.cpp.
namespace quorix {

#if defined(__x86_64__)
namespace {

#define QUORIX_AVX512_VBMI __attribute__((target("avx512f,avx512bw,avx512vbmi")))

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

TableRowKernel Avx512VbmiTableRowKernel() {
    return TableRowVbmi;
}

#else

TableRowKernel Avx512VbmiTableRowKernel() {
    return nullptr;
}

#endif

}  // namespace quorix
