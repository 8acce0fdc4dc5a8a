#include "platform/random.h"

#include <atomic>

namespace quorix::platform {

namespace {

std::atomic<uint32_t> g_state{1};

// The multiplier and increment of the portable rand() example in the C standard.
constexpr uint32_t Next(uint32_t state) {
    return state * 1103515245u + 12345u;
}

}  // namespace

uint32_t Random() {
    uint32_t state = g_state.load(std::memory_order_relaxed);
    while (!g_state.compare_exchange_weak(state, Next(state), std::memory_order_relaxed)) {
    }
    // The low bits of a power-of-two LCG cycle quickly, so the value comes from bits 16-30.
    return (Next(state) >> 16) & kRandomMax;
}

void SeedRandom(uint32_t seed) {
    g_state.store(seed, std::memory_order_relaxed);
}

}  // namespace quorix::platform
