#pragma once

#include <cstdint>

// The demosaic's row kernels: one output row's interior, two columns at a time so that every
// colour decision is fixed per column parity. A plain one in demosaic.cpp and vector ones
// (AVX2 in demosaic_avx2.cpp, 128-bit SSE4.1 in demosaic_sse.cpp), of which Demosaic takes the
// one ChosenBayerVectorLevel names; all compute the same integers as the per-pixel kernel that
// does the border columns.
namespace quorix {

// The raw rows an output row y reads, named by what they hold. The colour sampled at even columns
// (red or blue, fixed by the phase) lies in one of rows y and y - 1: that row is weighted 3 and
// the row of the same colour on the far side of the cell (y - 2 or y + 1) 1. The colour sampled
// at odd columns takes the other pair. The greens of the output row are the odd-column samples of
// evenColourNear and the even-column samples of oddColourNear.
struct BayerRowSources {
    const uint8_t* evenColourNear;
    const uint8_t* evenColourFar;
    const uint8_t* oddColourNear;
    const uint8_t* oddColourFar;
};

// Fixed-point gains (see BayerGainFixed) of the even- and odd-column colours.
struct BayerRowGains {
    uint32_t evenColour;
    uint32_t oddColour;
};

// Demosaics the interior of one output row of `width` pixels into `out` (the row's first pixel):
// columns 2 up to the returned column, which is at most width - 2. The caller computes the
// columns before and from there on with the per-pixel kernel (they need neighbours beyond the
// edge). Returns 2, having written nothing, when the row is too short for one vector step.
using BayerRowKernel = int32_t (*)(uint8_t* out, const BayerRowSources& sources, int32_t width,
                                   const BayerRowGains& gains);

// The vector instructions the row kernels may use, from none to the widest.
enum class BayerVectorLevel { kPlain, kSse41, kAvx2 };

// The level the demosaic runs at, decided once per process: the widest the processor has, capped
// by the environment variable QUORIX_SIMD: "0" keeps to the plain kernels, "sse" to the 128-bit
// kernel even where AVX2 is there (to compare the kernels, or to test the 128-bit one on any
// recent processor); unset or any other value leaves the processor's best.
BayerVectorLevel ChosenBayerVectorLevel();

// The vector row kernel for 8-bit samples into 24 or 32 bits per pixel or 16-bit samples into 48
// or 64 at the chosen level, with red at even columns or at odd ones; null at the plain level or
// for formats without a vector kernel.
BayerRowKernel VectorBayerRowKernel(uint16_t inBits, uint16_t outBits, bool redAtEvenColumns);

// The kernels of one vector level, by format, each with red at odd columns ([0]) and at even
// columns ([1]); and the one among them for the formats asked for (null for other formats).
struct BayerRowKernelSet {
    BayerRowKernel eightTo24[2];
    BayerRowKernel eightTo32[2];
    BayerRowKernel sixteenTo48[2];
    BayerRowKernel sixteenTo64[2];
};
BayerRowKernel PickBayerRowKernel(const BayerRowKernelSet& kernels, uint16_t inBits,
                                  uint16_t outBits, bool redAtEvenColumns);

// The kernels of one level, for the formats above; null for other formats or in builds for
// processors other than x86-64. They may run only on a processor with that level, which
// VectorBayerRowKernel makes sure of.
BayerRowKernel Avx2BayerRowKernel(uint16_t inBits, uint16_t outBits, bool redAtEvenColumns);
BayerRowKernel Sse41BayerRowKernel(uint16_t inBits, uint16_t outBits, bool redAtEvenColumns);

}  // namespace quorix
