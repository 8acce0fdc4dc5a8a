#pragma once

#include <cstdint>

namespace quorix::platform {

// The process-wide pseudo-random source, with the range and the classic linear congruential
// sequence of C rand(): values 0..32767, sequence fixed by the seed (1 until SeedRandom is
// called). Safe to call from any thread; concurrent callers each get the next value of the one
// sequence, none is handed out twice.
constexpr uint32_t kRandomMax = 32767;

uint32_t Random();
void SeedRandom(uint32_t seed);

}  // namespace quorix::platform
