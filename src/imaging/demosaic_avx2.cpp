#include <cstddef>

#include "imaging/demosaic_rows.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

// Each output pixel's cell holds one sample of each colour and two greens; the colour sampled at
// even columns and the one sampled at odd columns are interpolated alike, so a pair of output
// columns (even, odd) always takes the same steps. Loaded as 16-bit (32-bit) lanes, a row's
// 8-bit (16-bit) samples split into even and odd columns with one mask and one shift. The results
// are packed back with saturation, the even columns in the low half of each 128-bit lane and the
// odd ones in the high half, and the shuffles that interleave the colour planes into pixels also
// put the columns back in order.
//
// For the colour at even columns with column sums v = 3 x near row + far row:
//   output at even column 2i:     3 v[2i] + v[2i - 2]
//   output at odd column 2i + 1:  3 v[2i] + v[2i + 2]
// and for the colour at odd columns:
//   output at even column 2i:     3 v[2i - 1] + v[2i + 1]
//   output at odd column 2i + 1:  3 v[2i + 1] + v[2i - 1]
// which is the 9, 3, 3, 1 sum of the scalar kernel regrouped. Green at 2i is the mean of the
// near even-colour row at 2i - 1 and the near odd-colour row at 2i; at 2i + 1 of the same rows at
// 2i + 1 and 2i.
//
// These functions carry the AVX2 target themselves (no file-wide option), so no inline function
// shared with other files is ever compiled for AVX2; they run only after the processor check in
// VectorBayerRowKernel.
namespace quorix {

#if defined(__x86_64__)
namespace {

#define QUORIX_AVX2 __attribute__((target("avx2")))

// Byte shuffles that interleave three packed planes (see above) of 16 pixels (8 for 16-bit
// samples) per 128-bit lane into B, G, R pixels: out[k] = plane 0 by mask[k][0] | plane 1 by
// mask[k][1] | plane 2 by mask[k][2] for the lane's three 16-byte output chunks k; 0x80 leaves a
// byte zero.
struct InterleaveMasks {
    alignas(32) uint8_t bytes[3][3][32];
};

constexpr InterleaveMasks MakeInterleaveMasks(int sampleBytes) {
    InterleaveMasks masks{};
    const int pixelBytes = 3 * sampleBytes;
    const int oddColumnsAt = 8 / sampleBytes;  // first odd-column sample of a packed lane
    for (int chunk = 0; chunk < 3; ++chunk) {
        for (int plane = 0; plane < 3; ++plane) {
            for (int j = 0; j < 32; ++j) {
                const int position = chunk * 16 + (j & 15);
                const int pixel = position / pixelBytes;
                const int channel = position % pixelBytes / sampleBytes;
                const int byte = position % sampleBytes;
                const int sample = (pixel & 1) == 0 ? pixel / 2 : oddColumnsAt + pixel / 2;
                masks.bytes[chunk][plane][j] =
                    channel == plane ? static_cast<uint8_t>(sample * sampleBytes + byte) : 0x80;
            }
        }
    }
    return masks;
}

constexpr InterleaveMasks kInterleave8 = MakeInterleaveMasks(1);
constexpr InterleaveMasks kInterleave16 = MakeInterleaveMasks(2);

QUORIX_AVX2 inline __m256i LoadAt(const uint8_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

QUORIX_AVX2 inline void StoreAt(uint8_t* p, __m256i v) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
}

// One block's output as three packed planes.
struct Planes {
    __m256i blue;
    __m256i green;
    __m256i red;
};

// Packed blue, green, red planes of 32 bytes (16 words) into 32 (16) three-channel pixels at
// `out`.
QUORIX_AVX2 inline void StoreThreeChannels(uint8_t* out, const Planes& planes,
                                           const InterleaveMasks& masks) {
    __m256i chunk[3];
    for (int k = 0; k < 3; ++k) {
        const auto* m = reinterpret_cast<const __m256i*>(masks.bytes[k]);
        chunk[k] = _mm256_or_si256(
            _mm256_or_si256(_mm256_shuffle_epi8(planes.blue, _mm256_load_si256(m)),
                            _mm256_shuffle_epi8(planes.green, _mm256_load_si256(m + 1))),
            _mm256_shuffle_epi8(planes.red, _mm256_load_si256(m + 2)));
    }
    // Lane 0 holds the first half of the pixels, lane 1 the second.
    StoreAt(out, _mm256_permute2x128_si256(chunk[0], chunk[1], 0x20));
    StoreAt(out + 32, _mm256_permute2x128_si256(chunk[2], chunk[0], 0x30));
    StoreAt(out + 64, _mm256_permute2x128_si256(chunk[1], chunk[2], 0x31));
}

// Stores a vector of pixels whose fourth channel is zero, keeping the fourth channel at `out`.
QUORIX_AVX2 inline void StoreKeepingFourth(uint8_t* out, __m256i pixels, __m256i fourth) {
    StoreAt(out, _mm256_or_si256(pixels, _mm256_and_si256(LoadAt(out), fourth)));
}

// Packed blue, green, red planes of 32 bytes into 32 four-byte pixels at `out`.
QUORIX_AVX2 inline void StoreFourBytes(uint8_t* out, const Planes& planes) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i fourth = _mm256_set1_epi32(static_cast<int32_t>(0xFF000000u));
    const __m256i bgEven = _mm256_unpacklo_epi8(planes.blue, planes.green);
    const __m256i bgOdd = _mm256_unpackhi_epi8(planes.blue, planes.green);
    const __m256i rEven = _mm256_unpacklo_epi8(planes.red, zero);
    const __m256i rOdd = _mm256_unpackhi_epi8(planes.red, zero);
    // Pixels 0, 2, 4, 6 and 8 .. 14; 1, 3, 5, 7 and 9 .. 15 (lane 1: the 16 after them).
    const __m256i even0 = _mm256_unpacklo_epi16(bgEven, rEven);
    const __m256i even1 = _mm256_unpackhi_epi16(bgEven, rEven);
    const __m256i odd0 = _mm256_unpacklo_epi16(bgOdd, rOdd);
    const __m256i odd1 = _mm256_unpackhi_epi16(bgOdd, rOdd);
    // Pixels 0-3 | 16-19, 4-7 | 20-23, 8-11 | 24-27, 12-15 | 28-31.
    const __m256i p0 = _mm256_unpacklo_epi32(even0, odd0);
    const __m256i p1 = _mm256_unpackhi_epi32(even0, odd0);
    const __m256i p2 = _mm256_unpacklo_epi32(even1, odd1);
    const __m256i p3 = _mm256_unpackhi_epi32(even1, odd1);
    StoreKeepingFourth(out, _mm256_permute2x128_si256(p0, p1, 0x20), fourth);
    StoreKeepingFourth(out + 32, _mm256_permute2x128_si256(p2, p3, 0x20), fourth);
    StoreKeepingFourth(out + 64, _mm256_permute2x128_si256(p0, p1, 0x31), fourth);
    StoreKeepingFourth(out + 96, _mm256_permute2x128_si256(p2, p3, 0x31), fourth);
}

// Packed blue, green, red planes of 16 words into 16 four-word pixels at `out`.
QUORIX_AVX2 inline void StoreFourWords(uint8_t* out, const Planes& planes) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i fourth = _mm256_set1_epi64x(static_cast<int64_t>(0xFFFF000000000000u));
    const __m256i bgEven = _mm256_unpacklo_epi16(planes.blue, planes.green);
    const __m256i bgOdd = _mm256_unpackhi_epi16(planes.blue, planes.green);
    const __m256i rEven = _mm256_unpacklo_epi16(planes.red, zero);
    const __m256i rOdd = _mm256_unpackhi_epi16(planes.red, zero);
    // Pixels 0, 2 and 4, 6; 1, 3 and 5, 7 (lane 1: the 8 after them).
    const __m256i even0 = _mm256_unpacklo_epi32(bgEven, rEven);
    const __m256i even1 = _mm256_unpackhi_epi32(bgEven, rEven);
    const __m256i odd0 = _mm256_unpacklo_epi32(bgOdd, rOdd);
    const __m256i odd1 = _mm256_unpackhi_epi32(bgOdd, rOdd);
    // Pixels 0-1 | 8-9, 2-3 | 10-11, 4-5 | 12-13, 6-7 | 14-15.
    const __m256i p0 = _mm256_unpacklo_epi64(even0, odd0);
    const __m256i p1 = _mm256_unpackhi_epi64(even0, odd0);
    const __m256i p2 = _mm256_unpacklo_epi64(even1, odd1);
    const __m256i p3 = _mm256_unpackhi_epi64(even1, odd1);
    StoreKeepingFourth(out, _mm256_permute2x128_si256(p0, p1, 0x20), fourth);
    StoreKeepingFourth(out + 32, _mm256_permute2x128_si256(p2, p3, 0x20), fourth);
    StoreKeepingFourth(out + 64, _mm256_permute2x128_si256(p0, p1, 0x31), fourth);
    StoreKeepingFourth(out + 96, _mm256_permute2x128_si256(p2, p3, 0x31), fourth);
}

// 8-bit samples in 16-bit lanes: the even column is the low byte, the odd one the high byte.
struct Lanes8 {
    static constexpr int32_t kPixels = 32;  // per block
    static constexpr int32_t kSampleBytes = 1;

    QUORIX_AVX2 static __m256i Even(__m256i v) {
        return _mm256_and_si256(v, _mm256_set1_epi16(0x00FF));
    }
    QUORIX_AVX2 static __m256i Odd(__m256i v) { return _mm256_srli_epi16(v, 8); }
    QUORIX_AVX2 static __m256i Add(__m256i a, __m256i b) { return _mm256_add_epi16(a, b); }
    QUORIX_AVX2 static __m256i Half(__m256i v) { return _mm256_srli_epi16(v, 1); }
    // 3 x near + far at the even or the odd columns: the weights multiply the bytes in place.
    QUORIX_AVX2 static __m256i EvenColumnSum(__m256i near, __m256i far) {
        return Add(_mm256_maddubs_epi16(near, _mm256_set1_epi16(0x0003)), Even(far));
    }
    QUORIX_AVX2 static __m256i OddColumnSum(__m256i near, __m256i far) {
        return Add(_mm256_maddubs_epi16(near, _mm256_set1_epi16(0x0300)), Odd(far));
    }
    // The largest sum, 16 x 255, fits 16 bits, and so does the gain scaled by 32 (at most
    // 512 x 32): the high half of their product is (sum x gain) >> 11.
    QUORIX_AVX2 static __m256i Gain(uint32_t gain) {
        return _mm256_set1_epi16(static_cast<int16_t>(gain << 5));
    }
    QUORIX_AVX2 static __m256i Scale(__m256i sum, __m256i gain) {
        return _mm256_mulhi_epu16(sum, gain);
    }
    // Saturates at 255; no value comes near 32768, where the signed pack would misread it.
    QUORIX_AVX2 static __m256i Pack(__m256i even, __m256i odd) {
        return _mm256_packus_epi16(even, odd);
    }
};

// 16-bit samples in 32-bit lanes: the even column is the low word, the odd one the high word.
struct Lanes16 {
    static constexpr int32_t kPixels = 16;
    static constexpr int32_t kSampleBytes = 2;

    QUORIX_AVX2 static __m256i Even(__m256i v) {
        return _mm256_and_si256(v, _mm256_set1_epi32(0x0000FFFF));
    }
    QUORIX_AVX2 static __m256i Odd(__m256i v) { return _mm256_srli_epi32(v, 16); }
    QUORIX_AVX2 static __m256i Add(__m256i a, __m256i b) { return _mm256_add_epi32(a, b); }
    QUORIX_AVX2 static __m256i Half(__m256i v) { return _mm256_srli_epi32(v, 1); }
    QUORIX_AVX2 static __m256i EvenColumnSum(__m256i near, __m256i far) {
        const __m256i n = Even(near);
        return Add(Add(n, n), Add(n, Even(far)));
    }
    QUORIX_AVX2 static __m256i OddColumnSum(__m256i near, __m256i far) {
        const __m256i n = Odd(near);
        return Add(Add(n, n), Add(n, Odd(far)));
    }
    // 16 x 65535 x 512 still fits 32 bits.
    QUORIX_AVX2 static __m256i Gain(uint32_t gain) {
        return _mm256_set1_epi32(static_cast<int32_t>(gain));
    }
    QUORIX_AVX2 static __m256i Scale(__m256i sum, __m256i gain) {
        return _mm256_srli_epi32(_mm256_mullo_epi32(sum, gain), 11);
    }
    // Saturates at 65535; no value comes near 2^31, where the signed pack would misread it.
    QUORIX_AVX2 static __m256i Pack(__m256i even, __m256i odd) {
        return _mm256_packus_epi32(even, odd);
    }
};

// The output pixels x .. x + kPixels - 1 of one row (x even) as packed planes; reads samples
// x - 2 .. x + kPixels + 1.
template <typename Lanes, bool RedAtEvenColumns>
QUORIX_AVX2 inline Planes Block(const BayerRowSources& rows, int32_t x, __m256i evenGain,
                                __m256i oddGain) {
    const ptrdiff_t at = static_cast<ptrdiff_t>(x) * Lanes::kSampleBytes;
    constexpr ptrdiff_t kPair = 2 * Lanes::kSampleBytes;
    const uint8_t* en = rows.evenColourNear + at;
    const uint8_t* ef = rows.evenColourFar + at;
    const uint8_t* on = rows.oddColourNear + at;
    const uint8_t* of = rows.oddColourFar + at;
    const __m256i enBefore = LoadAt(en - kPair);
    const __m256i enHere = LoadAt(en);
    const __m256i onHere = LoadAt(on);

    // Column sums of the even-column colour at pairs i - 1, i, i + 1, of the odd one at i - 1, i.
    const __m256i evenBefore = Lanes::EvenColumnSum(enBefore, LoadAt(ef - kPair));
    const __m256i evenHere = Lanes::EvenColumnSum(enHere, LoadAt(ef));
    const __m256i evenAfter = Lanes::EvenColumnSum(LoadAt(en + kPair), LoadAt(ef + kPair));
    const __m256i oddBefore = Lanes::OddColumnSum(LoadAt(on - kPair), LoadAt(of - kPair));
    const __m256i oddHere = Lanes::OddColumnSum(onHere, LoadAt(of));

    // Along the row: 3 x the nearer column sum + the farther one.
    const __m256i evenThrice = Lanes::Add(Lanes::Add(evenHere, evenHere), evenHere);
    const __m256i oddBoth = Lanes::Add(oddBefore, oddHere);
    const __m256i evenColour =
        Lanes::Pack(Lanes::Scale(Lanes::Add(evenThrice, evenBefore), evenGain),
                    Lanes::Scale(Lanes::Add(evenThrice, evenAfter), evenGain));
    const __m256i oddColour =
        Lanes::Pack(Lanes::Scale(Lanes::Add(Lanes::Add(oddBoth, oddBefore), oddBefore), oddGain),
                    Lanes::Scale(Lanes::Add(Lanes::Add(oddBoth, oddHere), oddHere), oddGain));
    const __m256i greenNear = Lanes::Even(onHere);
    const __m256i green = Lanes::Pack(Lanes::Half(Lanes::Add(Lanes::Odd(enBefore), greenNear)),
                                      Lanes::Half(Lanes::Add(Lanes::Odd(enHere), greenNear)));
    if constexpr (RedAtEvenColumns) {
        return {oddColour, green, evenColour};
    } else {
        return {evenColour, green, oddColour};
    }
}

// Stores one block's planes as the output pixels x .. x + kPixels - 1.
template <typename Lanes, int OutChannels>
QUORIX_AVX2 inline void StoreBlock(uint8_t* out, int32_t x, const Planes& planes) {
    uint8_t* pixel = out + static_cast<ptrdiff_t>(x) * OutChannels * Lanes::kSampleBytes;
    if constexpr (OutChannels == 3) {
        StoreThreeChannels(pixel, planes, Lanes::kSampleBytes == 1 ? kInterleave8 : kInterleave16);
    } else if constexpr (Lanes::kSampleBytes == 1) {
        StoreFourBytes(pixel, planes);
    } else {
        StoreFourWords(pixel, planes);
    }
}

template <typename Lanes, int OutChannels, bool RedAtEvenColumns>
QUORIX_AVX2 int32_t Row(uint8_t* out, const BayerRowSources& rows, int32_t width,
                        const BayerRowGains& gains) {
    constexpr int32_t kStep = Lanes::kPixels;
    // A block at x reads samples x - 2 .. x + kStep + 1.
    constexpr int32_t kReach = kStep + 2;
    if (width < 2 + kReach) {
        return 2;
    }
    const __m256i evenGain = Lanes::Gain(gains.evenColour);
    const __m256i oddGain = Lanes::Gain(gains.oddColour);
    // The last block starts on the last even column whose reads stay inside the row; it overlaps
    // the one before and writes the same values again.
    const int32_t last = (width - kReach) & ~1;
    for (int32_t x = 2; x < last; x += kStep) {
        StoreBlock<Lanes, OutChannels>(out, x,
                                       Block<Lanes, RedAtEvenColumns>(rows, x, evenGain, oddGain));
    }
    StoreBlock<Lanes, OutChannels>(out, last,
                                   Block<Lanes, RedAtEvenColumns>(rows, last, evenGain, oddGain));
    return last + kStep;
}

#undef QUORIX_AVX2

}  // namespace

BayerRowKernel Avx2BayerRowKernel(uint16_t inBits, uint16_t outBits, bool redAtEvenColumns) {
    static constexpr BayerRowKernelSet kKernels = {
        {Row<Lanes8, 3, false>, Row<Lanes8, 3, true>},
        {Row<Lanes8, 4, false>, Row<Lanes8, 4, true>},
        {Row<Lanes16, 3, false>, Row<Lanes16, 3, true>},
        {Row<Lanes16, 4, false>, Row<Lanes16, 4, true>},
    };
    return PickBayerRowKernel(kKernels, inBits, outBits, redAtEvenColumns);
}

#else

BayerRowKernel Avx2BayerRowKernel(uint16_t, uint16_t, bool) {
    return nullptr;
}

#endif

}  // namespace quorix
