#include <cstddef>

#include "imaging/demosaic_rows.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

// The row kernel for processors whose vectors are 128 bits wide. It computes what the AVX2 kernel
// does, block by block of 16 pixels (8 for 16-bit samples): a row's 8-bit (16-bit) samples are
// loaded as 16-bit (32-bit) lanes, each lane one pair of columns (even, odd), split into even and
// odd columns with one mask and one shift. Results are packed back with saturation, even columns
// in the low half of a register and odd ones in the high half; the shuffles that interleave the
// colour planes into pixels put the columns back in order.
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
// Along a row, each block's column sums are computed once: the sums one pair before and one pair
// after a block are its own sums shifted by one lane, with the lane from the neighbouring block
// moved in.
//
// SSE4.1 is the level: the 16-bit samples need its unsigned 32-to-16-bit pack and its 32-bit
// multiply, and the interleaving of pixels its blends; one level for all formats keeps one
// processor check (the few x86-64 processors with SSSE3 but without SSE4.1 keep the plain
// kernels). The functions carry the target themselves (no file-wide option), so no inline
// function shared with other files is ever compiled for SSE4.1; they run only after the processor
// check in VectorBayerRowKernel.
namespace quorix {

#if defined(__x86_64__)
namespace {

#define QUORIX_SSE41 __attribute__((target("sse4.1")))

QUORIX_SSE41 inline __m128i LoadAt(const uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

QUORIX_SSE41 inline void StoreAt(uint8_t* p, __m128i v) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}

// One block's output as three packed planes.
struct Planes {
    __m128i blue;
    __m128i green;
    __m128i red;
};

// Three-channel pixels: a block's 16 pixels of 8-bit samples are three 16-byte output chunks, its
// 8 pixels of 16-bit samples three 8-word chunks. A chunk's 16 bytes (8 words) are one more (two
// more) than a multiple of three, so each chunk starts on another channel and the places one
// plane's samples take in the three chunks never coincide: blue, say, on bytes 0, 3, .. 15 of
// the first chunk, 2, 5, .. 14 of the second and 1, 4, .. 13 of the third. One shuffle per plane
// puts every sample on its place in its chunk, and each chunk picks, place by place, the plane
// the place belongs to with two blends.

// The plane (0 blue, 1 green, 2 red) that place `place` of output chunk `chunk` belongs to, with
// `places` samples to a chunk.
constexpr int PlaneAt(int chunk, int place, int places) {
    return (chunk * places + place) % 3;
}

// The shuffles that put the samples of each packed plane on their places.
struct PlacementMasks {
    alignas(16) uint8_t bytes[3][16];
};

constexpr PlacementMasks MakePlacementMasks(int sampleBytes) {
    PlacementMasks masks{};
    const int places = 16 / sampleBytes;
    for (int plane = 0; plane < 3; ++plane) {
        for (int pixel = 0; pixel < places; ++pixel) {
            const int place = (3 * pixel + plane) % places;
            const int sample = (pixel & 1) == 0 ? pixel / 2 : places / 2 + pixel / 2;
            for (int byte = 0; byte < sampleBytes; ++byte) {
                masks.bytes[plane][place * sampleBytes + byte] =
                    static_cast<uint8_t>(sample * sampleBytes + byte);
            }
        }
    }
    return masks;
}

constexpr PlacementMasks kPlacement8 = MakePlacementMasks(1);
constexpr PlacementMasks kPlacement16 = MakePlacementMasks(2);

// Every byte of every plane lands on a place of its own, none left over.
constexpr bool EachPlaneFillsEveryPlace(const PlacementMasks& masks) {
    for (const auto& plane : masks.bytes) {
        bool taken[16] = {};
        for (const uint8_t source : plane) {
            if (source >= 16 || taken[source]) {
                return false;
            }
            taken[source] = true;
        }
    }
    return true;
}
static_assert(EachPlaneFillsEveryPlace(kPlacement8) && EachPlaneFillsEveryPlace(kPlacement16));

// For 8-bit samples, the byte blends' selections of green and of red, per chunk (top bit set:
// take that plane).
struct ByteSelections {
    alignas(16) uint8_t bytes[3][2][16];
};

constexpr ByteSelections MakeByteSelections() {
    ByteSelections selections{};
    for (int chunk = 0; chunk < 3; ++chunk) {
        for (int place = 0; place < 16; ++place) {
            const int plane = PlaneAt(chunk, place, 16);
            selections.bytes[chunk][0][place] = plane == 1 ? 0x80 : 0;
            selections.bytes[chunk][1][place] = plane == 2 ? 0x80 : 0;
        }
    }
    return selections;
}

constexpr ByteSelections kByteSelections = MakeByteSelections();

// For 16-bit samples, the words of a chunk that hold `plane`, as a word blend's constant.
constexpr int WordSelection(int chunk, int plane) {
    int bits = 0;
    for (int place = 0; place < 8; ++place) {
        if (PlaneAt(chunk, place, 8) == plane) {
            bits |= 1 << place;
        }
    }
    return bits;
}

// The packed planes shuffled so that every sample is on its place in its chunk.
QUORIX_SSE41 inline Planes Place(const Planes& planes, const PlacementMasks& masks) {
    const auto* m = reinterpret_cast<const __m128i*>(masks.bytes);
    return {_mm_shuffle_epi8(planes.blue, _mm_load_si128(m)),
            _mm_shuffle_epi8(planes.green, _mm_load_si128(m + 1)),
            _mm_shuffle_epi8(planes.red, _mm_load_si128(m + 2))};
}

// Packed blue, green, red planes of 16 bytes into 16 three-byte pixels at `out`.
QUORIX_SSE41 inline void StoreThreeBytes(uint8_t* out, const Planes& planes) {
    constexpr ptrdiff_t kChunkBytes = 16;
    const Planes placed = Place(planes, kPlacement8);
    for (int chunk = 0; chunk < 3; ++chunk) {
        const auto* select = reinterpret_cast<const __m128i*>(kByteSelections.bytes[chunk]);
        const __m128i blueGreen =
            _mm_blendv_epi8(placed.blue, placed.green, _mm_load_si128(select));
        StoreAt(out + kChunkBytes * chunk,
                _mm_blendv_epi8(blueGreen, placed.red, _mm_load_si128(select + 1)));
    }
}

// Output chunk `Chunk` of three-word pixels from the placed planes.
template <int Chunk>
QUORIX_SSE41 inline __m128i WordChunk(const Planes& placed) {
    constexpr int kGreen = WordSelection(Chunk, 1);
    constexpr int kRed = WordSelection(Chunk, 2);
    return _mm_blend_epi16(_mm_blend_epi16(placed.blue, placed.green, kGreen), placed.red, kRed);
}

// Packed blue, green, red planes of 8 words into 8 three-word pixels at `out`.
QUORIX_SSE41 inline void StoreThreeWords(uint8_t* out, const Planes& planes) {
    const Planes placed = Place(planes, kPlacement16);
    StoreAt(out, WordChunk<0>(placed));
    StoreAt(out + 16, WordChunk<1>(placed));
    StoreAt(out + 32, WordChunk<2>(placed));
}

// Stores a vector of four-byte pixels, the fourth byte of each kept from what `out` holds.
QUORIX_SSE41 inline void StoreKeepingFourth(uint8_t* out, __m128i pixels, __m128i fourth) {
    StoreAt(out, _mm_blendv_epi8(pixels, LoadAt(out), fourth));
}

// Packed blue, green, red planes of 16 bytes into 16 four-byte pixels at `out`.
QUORIX_SSE41 inline void StoreFourBytes(uint8_t* out, const Planes& planes) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i fourth = _mm_set1_epi32(static_cast<int32_t>(0xFF000000u));
    const __m128i bgEven = _mm_unpacklo_epi8(planes.blue, planes.green);
    const __m128i bgOdd = _mm_unpackhi_epi8(planes.blue, planes.green);
    const __m128i rEven = _mm_unpacklo_epi8(planes.red, zero);
    const __m128i rOdd = _mm_unpackhi_epi8(planes.red, zero);
    // Pixels 0, 2, 4, 6 and 8 .. 14; 1, 3, 5, 7 and 9 .. 15.
    const __m128i even0 = _mm_unpacklo_epi16(bgEven, rEven);
    const __m128i even1 = _mm_unpackhi_epi16(bgEven, rEven);
    const __m128i odd0 = _mm_unpacklo_epi16(bgOdd, rOdd);
    const __m128i odd1 = _mm_unpackhi_epi16(bgOdd, rOdd);
    StoreKeepingFourth(out, _mm_unpacklo_epi32(even0, odd0), fourth);
    StoreKeepingFourth(out + 16, _mm_unpackhi_epi32(even0, odd0), fourth);
    StoreKeepingFourth(out + 32, _mm_unpacklo_epi32(even1, odd1), fourth);
    StoreKeepingFourth(out + 48, _mm_unpackhi_epi32(even1, odd1), fourth);
}

// Packed blue, green, red planes of 8 words into 8 four-word pixels at `out`, the fourth word
// of each kept from what `out` holds.
QUORIX_SSE41 inline void StoreFourWords(uint8_t* out, const Planes& planes) {
    constexpr int kKeepFourth = 0x88;  // words 3 and 7 of a vector, of two pixels
    const __m128i zero = _mm_setzero_si128();
    const __m128i bgEven = _mm_unpacklo_epi16(planes.blue, planes.green);
    const __m128i bgOdd = _mm_unpackhi_epi16(planes.blue, planes.green);
    const __m128i rEven = _mm_unpacklo_epi16(planes.red, zero);
    const __m128i rOdd = _mm_unpackhi_epi16(planes.red, zero);
    // Pixels 0, 2 and 4, 6; 1, 3 and 5, 7.
    const __m128i even0 = _mm_unpacklo_epi32(bgEven, rEven);
    const __m128i even1 = _mm_unpackhi_epi32(bgEven, rEven);
    const __m128i odd0 = _mm_unpacklo_epi32(bgOdd, rOdd);
    const __m128i odd1 = _mm_unpackhi_epi32(bgOdd, rOdd);
    StoreAt(out, _mm_blend_epi16(_mm_unpacklo_epi64(even0, odd0), LoadAt(out), kKeepFourth));
    StoreAt(out + 16,
            _mm_blend_epi16(_mm_unpackhi_epi64(even0, odd0), LoadAt(out + 16), kKeepFourth));
    StoreAt(out + 32,
            _mm_blend_epi16(_mm_unpacklo_epi64(even1, odd1), LoadAt(out + 32), kKeepFourth));
    StoreAt(out + 48,
            _mm_blend_epi16(_mm_unpackhi_epi64(even1, odd1), LoadAt(out + 48), kKeepFourth));
}

// 8-bit samples in 16-bit lanes: the even column is the low byte, the odd one the high byte.
struct Lanes8 {
    static constexpr int32_t kPixels = 16;  // per block
    static constexpr int32_t kSampleBytes = 1;

    QUORIX_SSE41 static __m128i Even(__m128i v) { return _mm_and_si128(v, _mm_set1_epi16(0x00FF)); }
    QUORIX_SSE41 static __m128i Odd(__m128i v) { return _mm_srli_epi16(v, 8); }
    QUORIX_SSE41 static __m128i Add(__m128i a, __m128i b) { return _mm_add_epi16(a, b); }
    QUORIX_SSE41 static __m128i Thrice(__m128i v) { return _mm_add_epi16(_mm_add_epi16(v, v), v); }
    QUORIX_SSE41 static __m128i Half(__m128i v) { return _mm_srli_epi16(v, 1); }
    // 3 x near + far at the even or the odd columns: the weights multiply the bytes in place.
    QUORIX_SSE41 static __m128i EvenColumnSum(__m128i near, __m128i far) {
        return Add(_mm_maddubs_epi16(near, _mm_set1_epi16(0x0003)), Even(far));
    }
    QUORIX_SSE41 static __m128i OddColumnSum(__m128i near, __m128i far) {
        return Add(_mm_maddubs_epi16(near, _mm_set1_epi16(0x0300)), Odd(far));
    }
    // The largest sum, 16 x 255, fits 16 bits, and so does the gain scaled by 32 (at most
    // 512 x 32): the high half of their product is (sum x gain) >> 11. The high half is cut off
    // from the whole sum, so the column sums go in without the gain.
    QUORIX_SSE41 static __m128i Gain(uint32_t gain) {
        return _mm_set1_epi16(static_cast<int16_t>(gain << 5));
    }
    QUORIX_SSE41 static __m128i PreScale(__m128i columnSum, __m128i) { return columnSum; }
    QUORIX_SSE41 static __m128i Scale(__m128i sum, __m128i gain) {
        return _mm_mulhi_epu16(sum, gain);
    }
    // Saturates at 255; no value comes near 32768, where the signed pack would misread it.
    QUORIX_SSE41 static __m128i Pack(__m128i even, __m128i odd) {
        return _mm_packus_epi16(even, odd);
    }
};

// 16-bit samples in 32-bit lanes: the even column is the low word, the odd one the high word.
struct Lanes16 {
    static constexpr int32_t kPixels = 8;
    static constexpr int32_t kSampleBytes = 2;

    QUORIX_SSE41 static __m128i Even(__m128i v) {
        return _mm_and_si128(v, _mm_set1_epi32(0x0000FFFF));
    }
    QUORIX_SSE41 static __m128i Odd(__m128i v) { return _mm_srli_epi32(v, 16); }
    QUORIX_SSE41 static __m128i Add(__m128i a, __m128i b) { return _mm_add_epi32(a, b); }
    QUORIX_SSE41 static __m128i Thrice(__m128i v) { return _mm_add_epi32(_mm_add_epi32(v, v), v); }
    QUORIX_SSE41 static __m128i Half(__m128i v) { return _mm_srli_epi32(v, 1); }
    QUORIX_SSE41 static __m128i EvenColumnSum(__m128i near, __m128i far) {
        return Add(Thrice(Even(near)), Even(far));
    }
    QUORIX_SSE41 static __m128i OddColumnSum(__m128i near, __m128i far) {
        return Add(Thrice(Odd(near)), Odd(far));
    }
    // The products are exact, so the gain multiplies each column sum once and the weighted sums
    // of the products are shifted: two multiplies a block instead of four. 16 x 65535 x 512 still
    // fits 32 bits.
    QUORIX_SSE41 static __m128i Gain(uint32_t gain) {
        return _mm_set1_epi32(static_cast<int32_t>(gain));
    }
    QUORIX_SSE41 static __m128i PreScale(__m128i columnSum, __m128i gain) {
        return _mm_mullo_epi32(columnSum, gain);
    }
    QUORIX_SSE41 static __m128i Scale(__m128i sum, __m128i) { return _mm_srli_epi32(sum, 11); }
    // Saturates at 65535; no value comes near 2^31, where the signed pack would misread it.
    QUORIX_SSE41 static __m128i Pack(__m128i even, __m128i odd) {
        return _mm_packus_epi32(even, odd);
    }
};

// The column sums of a block's pairs of columns, one lane each: of the colour at even columns and
// of the one at odd columns.
struct ColumnSums {
    __m128i even;
    __m128i odd;
};

// The column sums of the block whose first pixel is x (even), with as much of the gains as the
// lanes apply to them; reads samples x .. x + kPixels - 1.
template <typename Lanes>
QUORIX_SSE41 inline ColumnSums SumsAt(const BayerRowSources& rows, int32_t x, __m128i evenGain,
                                      __m128i oddGain) {
    const ptrdiff_t at = static_cast<ptrdiff_t>(x) * Lanes::kSampleBytes;
    return {Lanes::PreScale(Lanes::EvenColumnSum(LoadAt(rows.evenColourNear + at),
                                                 LoadAt(rows.evenColourFar + at)),
                            evenGain),
            Lanes::PreScale(Lanes::OddColumnSum(LoadAt(rows.oddColourNear + at),
                                                LoadAt(rows.oddColourFar + at)),
                            oddGain)};
}

// The output pixels x .. x + kPixels - 1 of one row (x even) as packed planes, from the column
// sums at the pairs before, at and after the block's; reads samples x - 2 .. x + kPixels - 1.
template <typename Lanes, bool RedAtEvenColumns>
QUORIX_SSE41 inline Planes Block(const BayerRowSources& rows, int32_t x, const ColumnSums& before,
                                 const ColumnSums& here, __m128i evenAfter, __m128i evenGain,
                                 __m128i oddGain) {
    // Along the row: 3 x the nearer column sum + the farther one.
    const __m128i evenThrice = Lanes::Thrice(here.even);
    const __m128i evenColour =
        Lanes::Pack(Lanes::Scale(Lanes::Add(evenThrice, before.even), evenGain),
                    Lanes::Scale(Lanes::Add(evenThrice, evenAfter), evenGain));
    const __m128i oddColour =
        Lanes::Pack(Lanes::Scale(Lanes::Add(Lanes::Thrice(before.odd), here.odd), oddGain),
                    Lanes::Scale(Lanes::Add(Lanes::Thrice(here.odd), before.odd), oddGain));

    const ptrdiff_t at = static_cast<ptrdiff_t>(x) * Lanes::kSampleBytes;
    constexpr ptrdiff_t kPair = 2 * Lanes::kSampleBytes;
    const __m128i greenNear = Lanes::Even(LoadAt(rows.oddColourNear + at));
    const __m128i green = Lanes::Pack(
        Lanes::Half(Lanes::Add(Lanes::Odd(LoadAt(rows.evenColourNear + at - kPair)), greenNear)),
        Lanes::Half(Lanes::Add(Lanes::Odd(LoadAt(rows.evenColourNear + at)), greenNear)));
    if constexpr (RedAtEvenColumns) {
        return {oddColour, green, evenColour};
    } else {
        return {evenColour, green, oddColour};
    }
}

// Stores one block's planes as the output pixels x .. x + kPixels - 1.
template <typename Lanes, int OutChannels>
QUORIX_SSE41 inline void StoreBlock(uint8_t* out, int32_t x, const Planes& planes) {
    uint8_t* pixel = out + static_cast<ptrdiff_t>(x) * OutChannels * Lanes::kSampleBytes;
    if constexpr (OutChannels == 3 && Lanes::kSampleBytes == 1) {
        StoreThreeBytes(pixel, planes);
    } else if constexpr (OutChannels == 3) {
        StoreThreeWords(pixel, planes);
    } else if constexpr (Lanes::kSampleBytes == 1) {
        StoreFourBytes(pixel, planes);
    } else {
        StoreFourWords(pixel, planes);
    }
}

// One block with the sums one pair before and after it read afresh: reads samples x - 2 ..
// x + kPixels + 1.
template <typename Lanes, int OutChannels, bool RedAtEvenColumns>
QUORIX_SSE41 inline void StandaloneBlock(uint8_t* out, const BayerRowSources& rows, int32_t x,
                                         __m128i evenGain, __m128i oddGain) {
    StoreBlock<Lanes, OutChannels>(
        out, x,
        Block<Lanes, RedAtEvenColumns>(rows, x, SumsAt<Lanes>(rows, x - 2, evenGain, oddGain),
                                       SumsAt<Lanes>(rows, x, evenGain, oddGain),
                                       SumsAt<Lanes>(rows, x + 2, evenGain, oddGain).even, evenGain,
                                       oddGain));
}

// How far ahead of the block being written a row of four-channel pixels is fetched [bytes]. Their
// fourth channel is read before it is written back, and those reads, one cache line a block,
// would otherwise wait on memory one after the other.
constexpr ptrdiff_t kPrefetchBytes = 2048;

template <typename Lanes, int OutChannels, bool RedAtEvenColumns>
QUORIX_SSE41 int32_t Row(uint8_t* out, const BayerRowSources& sources, int32_t width,
                         const BayerRowGains& gains) {
    // A copy the stores into the row cannot reach, so the row pointers stay in registers.
    const BayerRowSources rows = sources;
    constexpr int32_t kStep = Lanes::kPixels;
    // A block at x reads samples x - 2 .. x + kStep + 1.
    constexpr int32_t kReach = kStep + 2;
    // One lane, one pair of columns, in bytes.
    constexpr int kLane = 2 * Lanes::kSampleBytes;
    constexpr ptrdiff_t kPixelBytes = OutChannels * Lanes::kSampleBytes;
    if (width < 2 + kReach) {
        return 2;
    }
    const __m128i evenGain = Lanes::Gain(gains.evenColour);
    const __m128i oddGain = Lanes::Gain(gains.oddColour);
    int32_t x = 2;
    // While the next block's samples lie inside the row, its sums are computed once and shared:
    // the block before takes its first lane, the block itself keeps them.
    if (x + 2 * kStep <= width) {
        ColumnSums before = SumsAt<Lanes>(rows, x - 2, evenGain, oddGain);
        ColumnSums here = SumsAt<Lanes>(rows, x, evenGain, oddGain);
        for (; x + 2 * kStep <= width; x += kStep) {
            if constexpr (OutChannels == 4) {
                _mm_prefetch(reinterpret_cast<const char*>(out) +
                                 static_cast<ptrdiff_t>(x) * kPixelBytes + kPrefetchBytes,
                             _MM_HINT_T0);
            }
            const ColumnSums next = SumsAt<Lanes>(rows, x + kStep, evenGain, oddGain);
            StoreBlock<Lanes, OutChannels>(
                out, x,
                Block<Lanes, RedAtEvenColumns>(rows, x, before, here,
                                               _mm_alignr_epi8(next.even, here.even, kLane),
                                               evenGain, oddGain));
            before = {_mm_alignr_epi8(next.even, here.even, 16 - kLane),
                      _mm_alignr_epi8(next.odd, here.odd, 16 - kLane)};
            here = next;
        }
    }
    // The last blocks on their own; the very last starts on the last even column whose reads stay
    // inside the row, overlapping the one before and writing the same values again.
    const int32_t last = (width - kReach) & ~1;
    for (; x < last; x += kStep) {
        StandaloneBlock<Lanes, OutChannels, RedAtEvenColumns>(out, rows, x, evenGain, oddGain);
    }
    StandaloneBlock<Lanes, OutChannels, RedAtEvenColumns>(out, rows, last, evenGain, oddGain);
    return last + kStep;
}

#undef QUORIX_SSE41

}  // namespace

BayerRowKernel Sse41BayerRowKernel(uint16_t inBits, uint16_t outBits, bool redAtEvenColumns) {
    static constexpr BayerRowKernelSet kKernels = {
        {Row<Lanes8, 3, false>, Row<Lanes8, 3, true>},
        {Row<Lanes8, 4, false>, Row<Lanes8, 4, true>},
        {Row<Lanes16, 3, false>, Row<Lanes16, 3, true>},
        {Row<Lanes16, 4, false>, Row<Lanes16, 4, true>},
    };
    return PickBayerRowKernel(kKernels, inBits, outBits, redAtEvenColumns);
}

#else

BayerRowKernel Sse41BayerRowKernel(uint16_t, uint16_t, bool) {
    return nullptr;
}

#endif

}  // namespace quorix
