#include "imaging/row_bands.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

namespace quorix {

namespace {

constexpr int32_t kMaxBands = 16;
// Bands per thread: the threads take them in turn, so one that the system runs late, or that
// meets slower rows, does fewer of them instead of holding the others up.
constexpr int32_t kBandsPerThread = 4;

// The calling thread's index among the threads that take bands: 0 for a caller, 1 and up for
// the pool's workers.
thread_local int32_t t_bandWorker = 0;

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

// Worker threads that join the caller in taking the bands of a job, one after the other, until
// none is left. One job at a time: a caller that finds the pool busy does its rows itself
// instead of waiting for it. The caller waits only for the workers that took a band; one that
// wakes after the bands are gone stays out of the job, so a worker the system runs late never
// holds the caller up.
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

    // Runs the bands on the caller and the workers. False, having run nothing, when another
    // caller's job is in progress.
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
            m_next.store(0);
            m_open = true;
            ++m_generation;
        }
        m_wake.notify_all();
        TakeBands(bands, work);
        std::unique_lock lock(m_mutex);
        m_open = false;
        m_done.wait(lock, [this] { return m_running == 0; });
        m_bands = nullptr;
        m_work = nullptr;
        return true;
    }

private:
    void TakeBands(const std::vector<std::pair<int32_t, int32_t>>& bands,
                   const std::function<void(int32_t, int32_t)>& work) {
        for (;;) {
            const auto band = static_cast<size_t>(m_next.fetch_add(1));
            if (band >= bands.size()) {
                return;
            }
            work(bands[band].first, bands[band].second);
        }
    }

    void Serve(int32_t index) {
        t_bandWorker = index + 1;
        uint64_t seen = 0;
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_wake.wait(lock, [&] { return m_stopping || m_generation != seen; });
            if (m_stopping) {
                return;
            }
            seen = m_generation;
            if (!m_open) {
                continue;
            }
            ++m_running;
            const std::vector<std::pair<int32_t, int32_t>>& bands = *m_bands;
            const std::function<void(int32_t, int32_t)>& work = *m_work;
            lock.unlock();
            TakeBands(bands, work);
            lock.lock();
            if (--m_running == 0) {
                m_done.notify_one();
            }
        }
    }

    std::vector<std::thread> m_threads;
    std::mutex m_jobMutex;  // held by the caller whose job runs
    std::mutex m_mutex;     // guards everything below but m_next
    std::condition_variable m_wake;
    std::condition_variable m_done;
    const std::vector<std::pair<int32_t, int32_t>>* m_bands = nullptr;
    const std::function<void(int32_t, int32_t)>* m_work = nullptr;
    std::atomic<int32_t> m_next{0};  // the next band to take
    bool m_open = false;             // workers may still join the job
    int32_t m_running = 0;           // workers in the job
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

int32_t CurrentBandThread() {
    return t_bandWorker;
}

void ForEachRowBand(int32_t rows, int32_t minRowsPerBand,
                    const std::function<void(int32_t firstRow, int32_t endRow)>& work) {
    if (rows <= 0) {
        return;
    }
    const int32_t bandCount =
        std::min(RowBandCount() * kBandsPerThread, rows / std::max<int32_t>(minRowsPerBand, 1));
    if (bandCount < 2 || RowBandCount() < 2) {
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
