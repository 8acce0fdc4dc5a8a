#include "platform/random.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>
#include <vector>

namespace quorix::platform {
namespace {

// The portable rand() of the C standard, written out here to check the library's sequence.
std::vector<uint32_t> ReferenceSequence(uint32_t seed, size_t count) {
    std::vector<uint32_t> values;
    for (uint64_t next = seed; values.size() < count;) {
        next = (next * 1103515245 + 12345) % 4294967296;
        values.push_back(static_cast<uint32_t>(next / 65536 % 32768));
    }
    return values;
}

TEST(Random, FollowsTheCRandSequenceForItsSeed) {
    SeedRandom(1);
    // The first values of the standard's example generator seeded with 1.
    for (uint32_t expected : {16838u, 5758u, 10113u, 17515u, 31051u})
        EXPECT_EQ(Random(), expected);
    SeedRandom(20240601);
    for (uint32_t expected : ReferenceSequence(20240601, 1000))
        ASSERT_EQ(Random(), expected);
}

TEST(Random, CoversZeroTo32767) {
    SeedRandom(7);
    uint32_t low = kRandomMax;
    uint32_t high = 0;
    for (int i = 0; i < 100000; ++i) {
        const uint32_t value = Random();
        low = std::min(low, value);
        high = std::max(high, value);
    }
    // A 15-bit range reaches both ends within 100000 draws; a narrower or shifted one does not.
    EXPECT_LE(high, kRandomMax);
    EXPECT_GT(high, kRandomMax - 64);
    EXPECT_LT(low, 64u);
}

// A lost update between threads would hand out one value twice and skip another; concurrent
// draws must together be exactly a stretch of the one sequence.
TEST(RandomConcurrency, ConcurrentDrawsShareOneSequence) {
    constexpr size_t kThreads = 4;
    constexpr size_t kDraws = 20000;
    SeedRandom(12345);
    std::vector<std::vector<uint32_t>> drawn(kThreads);
    std::vector<std::thread> threads;
    for (auto& values : drawn)
        threads.emplace_back([&values] {
            for (size_t i = 0; i < kDraws; ++i)
                values.push_back(Random());
        });
    for (auto& thread : threads)
        thread.join();
    std::vector<uint32_t> all;
    for (const auto& values : drawn)
        all.insert(all.end(), values.begin(), values.end());
    std::vector<uint32_t> expected = ReferenceSequence(12345, kThreads * kDraws);
    std::sort(all.begin(), all.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(all, expected);
}

}  // namespace
}  // namespace quorix::platform
