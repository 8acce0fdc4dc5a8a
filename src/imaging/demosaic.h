#pragma once

#include <cstdint>
#include <functional>

#include "imaging/image_buffer.h"

// Bayer demosaicing of a raw frame (8 or 16 bits per sample) into a colour image. Each output
// pixel stands for the centre of the 2 x 2 cell whose lower-right sample is the pixel itself:
// green is the mean of the cell's two greens, red and blue are interpolated bilinearly from the
// four nearest samples of their colour (weights 9, 3, 3, 1 sixteenths) and scaled by the
// fixed-point gains.
namespace quorix {

// The phase the kernels use: the Bayer mode (0 GBRG, 1 RGGB, 2 BGGR, 3 GRBG; only its two low
// bits count) with its row parity flipped by a vertical mirror, its column parity flipped by a
// horizontal mirror, and its row parity flipped again by any sub-sampling mode.
int32_t EffectiveBayerPhase(int32_t bayerMode, bool mirrorVertical, bool mirrorHorizontal,
                            bool subSampling);

// A red or blue gain in percent (clamped to 0..400) as the kernels' fixed-point factor,
// trunc(percent x 1.28): 100 % is 128, the unit of the >> 11 that follows the 16-weight sum.
uint32_t BayerGainFixed(int32_t percent);

// Demosaics `source` (8 or 16 bits per sample) into `destination` of the same width and height
// with 24 or 32 (from 8-bit samples) or 48 or 64 (from 16-bit samples) bits per pixel, in the
// given effective phase. Writes blue, green, red into bytes (words) 0, 1, 2 of each pixel and
// leaves a fourth channel alone. Samples beyond the image edge are taken four rows or columns
// further inward, where the mosaic has the same colour; in images narrower or shorter than four
// pixels a sample of the same parity inside the image stands in. False, with nothing written,
// when either image is empty or the formats or sizes do not fit together.
bool Demosaic(CImageBuffer& destination, const CImageBuffer& source, int32_t phase,
              int32_t redGainPercent, int32_t blueGainPercent);

// Demosaic that lets the next step of the frame work on each row while it is still in the cache:
// each band of rows [firstRow, endRow) that a processor takes is handed to `band` with
// `produce(row, out)`, which demosaics one row into `out` (a row of the destination's width and
// format) or, with `out` null, into the destination's own row. `band` calls it with null once for
// every row of its band, in order, and may work on the rows produced so far in between; it may
// also produce rows outside its band, into rows of its own. An empty `band` demosaics as Demosaic
// does. The bands run in parallel; DemosaicInBands returns when all are done.
using DemosaicRow = std::function<void(int32_t row, uint8_t* out)>;
using DemosaicBand =
    std::function<void(int32_t firstRow, int32_t endRow, const DemosaicRow& produce)>;
bool DemosaicInBands(CImageBuffer& destination, const CImageBuffer& source, int32_t phase,
                     int32_t redGainPercent, int32_t blueGainPercent, const DemosaicBand& band);

}  // namespace quorix
