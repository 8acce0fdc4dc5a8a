// Splitting rows among threads: every row is handed out exactly once, in bands of consecutive
// rows, whether the work is split or not, and callers on several threads at once each get all of
// their rows.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <vector>

#include "imaging/row_bands.h"

namespace quorix {
namespace {

// Runs ForEachRowBand and returns how often each row was handed out.
std::vector<int> RowVisits(int32_t rows, int32_t minRowsPerBand) {
    std::vector<std::atomic<int>> visits(static_cast<size_t>(rows));
    ForEachRowBand(rows, minRowsPerBand, [&](int32_t first, int32_t end) {
        EXPECT_LE(0, first);
        EXPECT_LT(first, end);
        EXPECT_LE(end, rows);
        for (int32_t row = first; row < end; ++row) {
            visits[static_cast<size_t>(row)].fetch_add(1);
        }
    });
    std::vector<int> counts;
    for (const auto& v : visits) {
        counts.push_back(v.load());
    }
    return counts;
}

TEST(RowBands, EveryRowOnceWhateverTheSplit) {
    for (const int32_t rows : {1, 2, 31, 32, 63, 64, 65, 99, 1536}) {
        for (const int32_t minRows : {1, 16, 32, 2000}) {
            EXPECT_EQ(RowVisits(rows, minRows), std::vector<int>(static_cast<size_t>(rows), 1))
                << rows << " rows, bands of at least " << minRows;
        }
    }
    int calls = 0;
    ForEachRowBand(0, 1, [&](int32_t, int32_t) { ++calls; });
    EXPECT_EQ(calls, 0) << "no rows, no work";
}

// Two callers at once: one of them may find the pool busy and do its rows itself; neither loses
// a row nor waits forever.
TEST(RowBands, ConcurrencyTwoCallersAtOnce) {
    const auto caller = [](int32_t rows) {
        for (int job = 0; job < 300; ++job) {
            const std::vector<int> visits = RowVisits(rows + job % 7, 8);
            for (const int count : visits) {
                if (count != 1) {
                    return false;
                }
            }
        }
        return true;
    };
    auto first = std::async(std::launch::async, caller, 64);
    auto second = std::async(std::launch::async, caller, 100);
    EXPECT_TRUE(first.get());
    EXPECT_TRUE(second.get());
}

}  // namespace
}  // namespace quorix
