#pragma once

#include <gtest/gtest.h>

#include <future>

#include "platform/clock.h"

namespace quorix::platform::test {

// Runs SDK time `factor` times faster for the life of the guard, then back at normal speed.
class ScopedTimeScale {
public:
    explicit ScopedTimeScale(uint32_t factor) { SetTimeScale(factor); }
    ~ScopedTimeScale() { SetTimeScale(1); }
    ScopedTimeScale(const ScopedTimeScale&) = delete;
    ScopedTimeScale& operator=(const ScopedTimeScale&) = delete;
};

// Bound for "must not hang" checks on threads; far above any legitimate duration.
constexpr auto kHangLimit = std::chrono::seconds(30);

template <typename T>
bool Finishes(std::future<T>& result) {
    return result.wait_for(kHangLimit) == std::future_status::ready;
}

}  // namespace quorix::platform::test
