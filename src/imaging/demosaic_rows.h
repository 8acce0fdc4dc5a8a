#pragma once

#include <cstdint>

// The demosaic's row kernels: one output row's interior, two columns at a time so that every
// colour decision is fixed per column parity. A plain one in demosaic.cpp and a vector one
// (AVX2, demosaic_avx2.cpp) that Demosaic chooses once when the processor has it; both compute
// the same integers as the per-pixel kernel that does the border columns.
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

// The AVX2 row kernel for 8-bit samples into 24 or 32 bits per pixel or 16-bit samples into 48
// or 64, with red at even columns or at odd ones; null when the processor lacks AVX2 or the
// formats have no vector kernel.
BayerRowKernel Avx2BayerRowKernel(uint16_t inBits, uint16_t outBits, bool redAtEvenColumns);

}  // namespace quorix
