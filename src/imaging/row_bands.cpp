#include "imaging/row_bands.h"

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

namespace quorix {

namespace {

constexpr int32_t kMaxBands = 16;

int32_t ConfiguredBandCount() {
    // Read once, before any thread of the pool exists.
    if (const char* text = std::getenv("QUORIX_THREADS");  // NOLINT(concurrency-mt-unsafe)
        text != nullptr) {
        const long value = std::strtol(text, nullptr, 10);
        if (value >= 1) {
            return static_cast<int32_t>(std::min<long>(value, kMaxBands));
        }
    }
    const unsigned processors = std::thread::hardware_concurrency();
    return std::clamp(static_cast<int32_t>(processors), 1, kMaxBands);
}

// Worker threads that each take one band of a job and go back to waiting. One job at a time:
// a caller that finds the pool busy does its rows itself instead of waiting for it.
class BandPool {
public:
    explicit BandPool(int32_t workers) {
        m_threads.reserve(static_cast<size_t>(workers));
        for (int32_t index = 0; index < workers; ++index) {
            m_threads.emplace_back([this, index] { Serve(index); });
        }
    }
    ~BandPool() {
        {
            std::lock_guard lock(m_mutex);
            m_stopping = true;
        }
        m_wake.notify_all();
        for (std::thread& thread : m_threads) {
            thread.join();
        }
    }
    BandPool(const BandPool&) = delete;
    BandPool& operator=(const BandPool&) = delete;

    int32_t Workers() const { return static_cast<int32_t>(m_threads.size()); }

    // Runs the bands: band 0 on the caller, band i on worker i - 1. False, having run nothing,
    // when another caller's job is in progress.
    bool Run(const std::vector<std::pair<int32_t, int32_t>>& bands,
             const std::function<void(int32_t, int32_t)>& work) {
        std::unique_lock job(m_jobMutex, std::try_to_lock);
        if (!job.owns_lock()) {
            return false;
        }
        {
            std::lock_guard lock(m_mutex);
            m_bands = &bands;
            m_work = &work;
            m_pending = static_cast<int32_t>(bands.size()) - 1;
            ++m_generation;
        }
        m_wake.notify_all();
        work(bands[0].first, bands[0].second);
        std::unique_lock lock(m_mutex);
        m_done.wait(lock, [this] { return m_pending == 0; });
        m_bands = nullptr;
        m_work = nullptr;
        return true;
    }

private:
    void Serve(int32_t index) {
        uint64_t seen = 0;
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_wake.wait(lock, [&] { return m_stopping || m_generation != seen; });
            if (m_stopping) {
                return;
            }
            seen = m_generation;
            // A worker without a band in a job may wake only after it ended.
            const size_t band = static_cast<size_t>(index) + 1;
            if (m_bands == nullptr || band >= m_bands->size()) {
                continue;
            }
            const auto [first, end] = (*m_bands)[band];
            const std::function<void(int32_t, int32_t)>& work = *m_work;
            lock.unlock();
            work(first, end);
            lock.lock();
            if (--m_pending == 0) {
                m_done.notify_one();
            }
        }
    }

    std::vector<std::thread> m_threads;
    std::mutex m_jobMutex;  // held by the caller whose job runs
    std::mutex m_mutex;     // guards everything below
    std::condition_variable m_wake;
    std::condition_variable m_done;
    const std::vector<std::pair<int32_t, int32_t>>* m_bands = nullptr;
    const std::function<void(int32_t, int32_t)>* m_work = nullptr;
    int32_t m_pending = 0;
    uint64_t m_generation = 0;
    bool m_stopping = false;
};

BandPool* Pool() {
    // Made on first use, so that a process that never demosaics never starts a thread.
    static BandPool pool(RowBandCount() - 1);
    return &pool;
}

}  // namespace

int32_t RowBandCount() {
    static const int32_t count = ConfiguredBandCount();
    return count;
}

void ForEachRowBand(int32_t rows, int32_t minRowsPerBand,
                    const std::function<void(int32_t firstRow, int32_t endRow)>& work) {
    if (rows <= 0) {
        return;
    }
    const int32_t bandCount = std::min(RowBandCount(), rows / std::max<int32_t>(minRowsPerBand, 1));
    if (bandCount < 2) {
        work(0, rows);
        return;
    }
    std::vector<std::pair<int32_t, int32_t>> bands;
    bands.reserve(static_cast<size_t>(bandCount));
    for (int32_t band = 0; band < bandCount; ++band) {
        bands.emplace_back(
            static_cast<int32_t>(static_cast<int64_t>(rows) * band / bandCount),
            static_cast<int32_t>(static_cast<int64_t>(rows) * (band + 1) / bandCount));
    }
    if (!Pool()->Run(bands, work)) {
        work(0, rows);
    }
}

}  // namespace quorix
