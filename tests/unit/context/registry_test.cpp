// The handle registry: handle generation, lookup that moves the ring's head, and release.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <optional>
#include <set>
#include <thread>
#include <vector>

#include "api/sdk_chain.h"
#include "context/quorix.h"

namespace quorix {
namespace {

// A source that hands out the listed values in turn, then repeats the last one.
CSdkChain::RandomSource Sequence(std::vector<uint32_t> values) {
    auto next = std::make_shared<size_t>(0);
    return [values = std::move(values), next] {
        const uint32_t value = values[std::min(*next, values.size() - 1)];
        ++*next;
        return value;
    };
}

std::unique_ptr<CQuorix> NewContext() {
    return std::make_unique<CQuorix>();
}

class RegistryTest : public ::testing::Test {
protected:
    void TearDown() override {
        for (uint32_t handle : issued) {
            chain.Release(handle);
        }
    }
    uint32_t Add() {
        issued.push_back(chain.Register(NewContext()));
        return issued.back();
    }
    CSdkChain chain{[] { return 5000u; }, [] { return 77u; }};
    std::vector<uint32_t> issued;
};

// Two contexts made within one tick that draw the same random value must not share a handle:
// the count of registered contexts separates them.
TEST_F(RegistryTest, SameTickAndRandomValueStillGiveDistinctHandles) {
    const uint32_t first = Add();
    const uint32_t second = Add();
    EXPECT_EQ(first, 5000u + 77u + 0u);
    EXPECT_EQ(second, 5000u + 77u + 1u);
    EXPECT_NE(chain.Lookup(first), nullptr);
    EXPECT_NE(chain.Lookup(second), nullptr);
    EXPECT_NE(chain.Lookup(first), chain.Lookup(second));
}

// Handle 0 means failure to applications, and a handle already in use would make two contexts
// answer to one name; both are drawn again.
TEST(RegistryGeneration, ZeroAndTakenHandlesAreDrawnAgain) {
    // 100 + 0xFFFFFF9C + 0 wraps to 0; the next draw gives 100 + 3 + 0.
    CSdkChain zero{[] { return 100u; }, Sequence({0xFFFFFF9Cu, 3u})};
    const uint32_t first = zero.Register(NewContext());
    EXPECT_EQ(first, 103u);
    EXPECT_TRUE(zero.Release(first));

    // The second context draws 50 + 0xFFFFFFFF + 1 = 50, the first one's handle; its next draw
    // gives 50 + 10 + 1.
    CSdkChain clash{[] { return 50u; }, Sequence({0u, 0xFFFFFFFFu, 10u})};
    const uint32_t a = clash.Register(NewContext());
    const uint32_t b = clash.Register(NewContext());
    EXPECT_EQ(a, 50u);
    EXPECT_EQ(b, 61u);
    EXPECT_TRUE(clash.Release(a));
    EXPECT_TRUE(clash.Release(b));
}

// Lookups leave the head on the node they found, or on the ring's last node when they fail.
TEST_F(RegistryTest, LookupMovesTheHead) {
    const uint32_t a = Add();
    const uint32_t b = Add();
    const uint32_t c = Add();
    // Each insertion goes before the head and becomes the head: the ring reads c, b, a.
    ASSERT_EQ(chain.Head()->data.handle, c);
    EXPECT_EQ(chain.Head()->next->data.handle, b);
    EXPECT_EQ(chain.Head()->previous->data.handle, a);

    ASSERT_NE(chain.Lookup(b), nullptr);
    EXPECT_EQ(chain.Head()->data.handle, b);
    // From b the last node is c: a failed walk stops there.
    EXPECT_EQ(chain.Lookup(0xDEADBEEFu), nullptr);
    EXPECT_EQ(chain.Head()->data.handle, c);
    ASSERT_NE(chain.Lookup(a), nullptr);
    EXPECT_EQ(chain.Head()->data.handle, a);
    EXPECT_EQ(chain.Count(), 3);
}

TEST_F(RegistryTest, ReleasingTheMiddleOfThreeKeepsTheOthers) {
    const uint32_t a = Add();
    const uint32_t b = Add();
    const uint32_t c = Add();
    CQuorix* contextA = chain.Lookup(a);
    CQuorix* contextC = chain.Lookup(c);
    EXPECT_TRUE(chain.Release(b));
    EXPECT_EQ(chain.Count(), 2);
    EXPECT_EQ(chain.Lookup(b), nullptr);
    EXPECT_EQ(chain.Lookup(a), contextA);
    EXPECT_EQ(chain.Lookup(c), contextC);
    EXPECT_FALSE(chain.Release(b));
}

TEST_F(RegistryTest, ReleasingTheOnlyHandleEmptiesTheRing) {
    const uint32_t only = Add();
    EXPECT_TRUE(chain.Release(only));
    EXPECT_TRUE(chain.IsEmpty());
    EXPECT_EQ(chain.Count(), 0);
    EXPECT_EQ(chain.Lookup(only), nullptr);
    EXPECT_EQ(chain.Lookup(0), nullptr);
    EXPECT_FALSE(chain.Release(only));
}

TEST_F(RegistryTest, UnknownHandlesFindNothing) {
    EXPECT_EQ(chain.Lookup(0), nullptr);  // empty ring
    const uint32_t a = Add();
    EXPECT_EQ(chain.Lookup(0), nullptr);
    EXPECT_EQ(chain.Lookup(a + 1), nullptr);
    EXPECT_FALSE(chain.Release(a + 1));
    EXPECT_NE(chain.Lookup(a), nullptr);
}

// Several threads create, look up and release handles on one registry at once. Each thread must
// always find its own live contexts and release each exactly once (run under ThreadSanitizer in
// CI).
TEST(RegistryConcurrency, ParallelCreateLookupRelease) {
    CSdkChain chain;
    constexpr int kThreads = 6;
    constexpr int kRounds = 200;
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            std::vector<std::pair<uint32_t, CQuorix*>> mine;
            for (int round = 0; round < kRounds; ++round) {
                auto context = NewContext();
                CQuorix* raw = context.get();
                const uint32_t handle = chain.Register(std::move(context));
                mine.emplace_back(handle, raw);
                for (const auto& [h, ctx] : mine) {
                    if (chain.Lookup(h) != ctx) {
                        ++failures;
                    }
                }
                if (round % 3 == 2) {
                    const uint32_t gone = mine.front().first;
                    mine.erase(mine.begin());
                    if (!chain.Release(gone)) {
                        ++failures;
                    }
                }
            }
            for (const auto& entry : mine) {
                if (!chain.Release(entry.first)) {
                    ++failures;
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(failures.load(), 0);
    EXPECT_TRUE(chain.IsEmpty());
}

// A release on one thread while another thread's call runs on the same handle: the running call
// keeps a live context until it ends (freed under it before, which AddressSanitizer reports as a
// use after free), calls starting after the release began find no context, and the release
// returns only once the running call has ended.
TEST(RegistryConcurrency, ReleaseWaitsForTheCallRunningOnItsHandle) {
    CSdkChain chain;
    const uint32_t handle = chain.Register(NewContext());
    std::optional<CSdkChain::Call> running;
    running.emplace(chain.Enter(handle));
    CQuorix* context = running->Context();
    ASSERT_NE(context, nullptr);

    std::atomic<bool> released{false};
    std::thread releaser([&] {
        EXPECT_TRUE(chain.Release(handle));
        released = true;
    });
    while (chain.Lookup(handle) != nullptr)
        std::this_thread::yield();
    EXPECT_EQ(chain.Enter(handle).Context(), nullptr) << "a call started after the release";
    EXPECT_FALSE(chain.Release(handle)) << "released twice";
    // The running call goes on using its context.
    context->SetError(kErrArgument);
    EXPECT_EQ(context->GetLastError(), static_cast<uint32_t>(kErrArgument));
    EXPECT_FALSE(released.load()) << "the release returned while a call still ran";

    running.reset();
    releaser.join();
    EXPECT_TRUE(released.load());
    EXPECT_TRUE(chain.IsEmpty());
}

}  // namespace
}  // namespace quorix
