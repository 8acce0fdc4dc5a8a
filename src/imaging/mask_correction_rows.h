#pragma once

#include <cstdint>

// Row kernels of the raw-frame corrections with vector instructions. Each does a leading part of
// a row, a whole number of vector steps, and returns how many samples it did; the plain code of
// mask_correction.cpp does the rest with the same formulas, so the bytes are those of the plain
// code alone. They may run only on a processor with AVX2 (ChosenBayerVectorLevel, the process's
// one choice of vector level, says so); in builds for other processors they do nothing.
namespace quorix {

// The flat field over `count` samples: samples, dark and white point at the same sample.
int32_t FlatFieldRow8Avx2(uint8_t* samples, const uint8_t* dark, const uint8_t* white,
                          int32_t count);
int32_t FlatFieldRow16Avx2(uint8_t* samples, const uint8_t* dark, const uint8_t* white,
                           int32_t count);

// Dot detection over `count` pixels: `row` points at the first pixel (its left neighbour is
// row[-1]), `up` and `down` at the pixels above and below it, `hot`, `dead` and `marks` at its
// entries. Writes 1 (dot) or 0 for each pixel done and sets `any` nonzero when it marked one.
int32_t DetectDotsRow8Avx2(uint8_t* marks, const uint8_t* up, const uint8_t* row,
                           const uint8_t* down, const uint8_t* hot, const uint8_t* dead,
                           int32_t count, int32_t* any);
int32_t DetectDotsRow16Avx2(uint8_t* marks, const uint8_t* up, const uint8_t* row,
                            const uint8_t* down, const uint8_t* hot, const uint8_t* dead,
                            int32_t count, int32_t* any);

}  // namespace quorix
