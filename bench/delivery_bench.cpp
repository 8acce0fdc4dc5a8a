// What becomes of the frames of a camera running at the sensor's full rate: the emulator daemon
// (quorix-camsim, in its own process as a camera is) sends 118 frames per second at 2048 x 1536,
// the windowless preview runs with no pause between frames (wait time 0), every frame is
// processed in the colour mode with all adjustments off and copied into the caller's buffer, and
// the benchmark thread takes the frame messages as an application would. Newest-frame delivery
// (the default) and every-frame delivery (ring of the default depth, 16) at 8, 24 and 48 bits.
//
// One iteration is one frame message that carries a frame. Reported from the SDK's frame
// statistics after the preview stopped: received (frames whose header came), delivered,
// overtaken, failed (all causes), ring_full (of failed), stopped (of failed: still in the ring
// when the preview stopped, not a loss), not_fetched (frames the camera made that the SDK did
// not ask for in time), lost (overtaken + not_fetched + the failures other than stopped), and
// cpu_ms_per_frame: this process's CPU time (user + system, every thread of the SDK) per
// delivered frame. The same camera also feeds an AVI recording (BM_Record, below).

#include <benchmark/benchmark.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <quorix/quorix.h>

#include "private_device_table.h"

namespace {

namespace fs = std::filesystem;

constexpr int32_t kWidth = 2048;
constexpr int32_t kHeight = 1536;
constexpr int32_t kMessageWaitMs = 5000;
constexpr const char* kSensorRate = "118";
// Frames per run: three seconds of the camera's frames.
constexpr int64_t kFramesPerRun = 354;

using quorix::bench::PrivateDeviceTable;

// The emulator daemon serving one camera at the sensor's rate, seen through QUORIX_SIM_DIR for
// as long as it lives.
class CamsimDaemon {
public:
    CamsimDaemon() {
        char pattern[] = "/tmp/quorix-delivery-bench-XXXXXX";
        if (mkdtemp(pattern) == nullptr) {
            return;
        }
        m_directory = pattern;
        m_pid = fork();
        if (m_pid == 0) {
            execl(QUORIX_CAMSIM_PATH, QUORIX_CAMSIM_PATH, "--dir", m_directory.c_str(), "--fps",
                  kSensorRate, static_cast<char*>(nullptr));
            _exit(127);
        }
        // Ready once its socket is there; a daemon that never gets there fails the setup.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!HasSocket() && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (HasSocket()) {
            setenv("QUORIX_SIM_DIR", m_directory.c_str(), 1);
        }
    }
    ~CamsimDaemon() {
        unsetenv("QUORIX_SIM_DIR");
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            int status = 0;
            waitpid(m_pid, &status, 0);
        }
        if (!m_directory.empty()) {
            std::error_code ignored;
            fs::remove_all(m_directory, ignored);
        }
    }
    CamsimDaemon(const CamsimDaemon&) = delete;
    CamsimDaemon& operator=(const CamsimDaemon&) = delete;

    bool HasSocket() const {
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(m_directory, error)) {
            if (entry.path().extension() == ".sock") {
                return true;
            }
        }
        return false;
    }

private:
    std::string m_directory;
    pid_t m_pid = -1;
};

double ProcessCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Arguments: bits per pixel, delivery mode (QUORIX_DELIVERY_*).
void BM_Delivery(benchmark::State& state) {
    const auto bitsPerPixel = static_cast<int32_t>(state.range(0));
    const auto mode = static_cast<int32_t>(state.range(1));
    PrivateDeviceTable table;
    CamsimDaemon daemon;
    if (!daemon.HasSocket()) {
        state.SkipWithError("quorix-camsim does not start");
        return;
    }
    const QuorixWindow window = Quorix_CreateMessageWindow();
    const QuorixHandle handle = Quorix_Initialize(nullptr);
    const size_t stride = (static_cast<size_t>(kWidth) * bitsPerPixel / 8 + 3) & ~size_t{3};
    std::vector<uint8_t> buffer(stride * kHeight);
    const bool ready = window != nullptr && handle != 0 &&
                       Quorix_SetColorMode(handle, bitsPerPixel) == 1 &&
                       Quorix_SetWaitTime(handle, 0) == 1 &&
                       Quorix_SetPreviewWindow(handle, nullptr, 0, 0, 0, 0) == 1 &&
                       Quorix_SetDeliveryMode(handle, mode) == 1 &&
                       Quorix_CallBackPreview(handle, window, buffer.data(),
                                              static_cast<uint32_t>(buffer.size()), 1) == 1;
    const auto nextFrame = [&] {
        QuorixMessage message{};
        while (Quorix_GetWindowMessage(window, &message, kMessageWaitMs) == 1) {
            if (message.message == QUORIX_MSG_FRAME) {
                return message.wParam != 0;
            }
        }
        return false;
    };
    if (!ready) {
        state.SkipWithError("the windowless preview does not start");
    } else {
        const double cpuStart = ProcessCpuSeconds();
        for (auto _ : state) {
            if (!nextFrame()) {
                state.SkipWithError("a frame message reported an error or none came");
                break;
            }
        }
        Quorix_StopPreview(handle);
        const double cpu = ProcessCpuSeconds() - cpuStart;
        QuorixFrameStatistics s{};
        s.size = sizeof s;
        if (Quorix_GetFrameStatistics(handle, &s) == 1) {
            const uint64_t lost = s.framesOvertaken + s.framesSkipped + s.framesFailed -
                                  s.failedStopped;
            state.counters["received"] = static_cast<double>(s.framesReceived);
            state.counters["delivered"] = static_cast<double>(s.framesDelivered);
            state.counters["overtaken"] = static_cast<double>(s.framesOvertaken);
            state.counters["failed"] = static_cast<double>(s.framesFailed);
            state.counters["ring_full"] = static_cast<double>(s.failedRingFull);
            state.counters["stopped"] = static_cast<double>(s.failedStopped);
            state.counters["not_fetched"] = static_cast<double>(s.framesSkipped);
            state.counters["lost"] = static_cast<double>(lost);
            if (s.framesDelivered > 0) {
                state.counters["cpu_ms_per_frame"] =
                    cpu * 1000.0 / static_cast<double>(s.framesDelivered);
            }
        }
        state.SetItemsProcessed(state.iterations());
    }
    if (handle != 0) {
        Quorix_Release(handle);
    }
    if (window != nullptr) {
        Quorix_DestroyMessageWindow(window);
    }
}
BENCHMARK(BM_Delivery)
    ->ArgNames({"bits", "every_frame"})
    ->ArgsProduct({{8, 24, 48}, {QUORIX_DELIVERY_NEWEST, QUORIX_DELIVERY_EVERY_FRAME}})
    ->Iterations(kFramesPerRun)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// Recording at the sensor's rate: Quorix_Record writes the preview's frames (every-frame
// delivery, wait time 0, full frames at 24 bits) into an AVI file in $QUORIX_BENCH_DIR (default:
// the system's temporary directory) for kRecordSeconds. One iteration is one whole recording.
// Reported: camera_fps (frames per second the camera sent and the SDK received), offered_fps
// (frames the preview processed and offered to the recording), written_fps (frames in the file),
// dropped (offered frames the file could not take in time), lost_before (received frames that
// never reached the recording: overtaken or failed), file_rate (the rate the file's headers
// give) and cpu_ms_per_frame (this process's CPU time per written frame).
constexpr uint32_t kRecordSeconds = 3;

void BM_Record(benchmark::State& state) {
    const auto bitsPerPixel = static_cast<int32_t>(state.range(0));
    PrivateDeviceTable table;
    CamsimDaemon daemon;
    if (!daemon.HasSocket()) {
        state.SkipWithError("quorix-camsim does not start");
        return;
    }
    const char* directory = std::getenv("QUORIX_BENCH_DIR");  // NOLINT
    const fs::path base = directory != nullptr && *directory != '\0' ? fs::path(directory)
                                                                     : fs::temp_directory_path();
    const fs::path path = base / "quorix-bench-record.avi";
    const QuorixHandle handle = Quorix_Initialize(nullptr);
    const bool ready = handle != 0 && Quorix_SetColorMode(handle, bitsPerPixel) == 1 &&
                       Quorix_SetWaitTime(handle, 0) == 1 &&
                       Quorix_SetDeliveryMode(handle, QUORIX_DELIVERY_EVERY_FRAME) == 1;
    if (!ready) {
        state.SkipWithError("the camera cannot be set up");
    }
    QuorixRecordStatus status{};
    status.size = sizeof status;
    QuorixFrameStatistics statistics{};
    statistics.size = sizeof statistics;
    double cpu = 0.0;
    double seconds = 0.0;
    for (auto _ : state) {
        if (!ready) {
            break;
        }
        const double cpuStart = ProcessCpuSeconds();
        const auto start = std::chrono::steady_clock::now();
        if (Quorix_Record(handle, path.c_str(), kRecordSeconds * 1000, 0) != 1) {
            state.SkipWithError("Quorix_Record failed");
            break;
        }
        do {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        } while (Quorix_GetRecordStatus(handle, &status) == 1 &&
                 status.state == QUORIX_RECORD_RUNNING &&
                 std::chrono::steady_clock::now() - start < std::chrono::seconds(30));
        Quorix_StopPreview(handle);
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        cpu = ProcessCpuSeconds() - cpuStart;
        Quorix_GetRecordStatus(handle, &status);
        Quorix_GetFrameStatistics(handle, &statistics);
    }
    if (ready && status.framesWritten > 0) {
        // The recording's own span: from its first frame to its last.
        const double span = status.elapsedMs / 1000.0;
        const uint64_t offered = status.framesWritten + status.framesDropped;
        state.counters["camera_fps"] = static_cast<double>(statistics.framesReceived) / seconds;
        state.counters["offered_fps"] = span > 0 ? static_cast<double>(offered) / span : 0.0;
        state.counters["written_fps"] =
            span > 0 ? static_cast<double>(status.framesWritten) / span : 0.0;
        state.counters["dropped"] = static_cast<double>(status.framesDropped);
        state.counters["lost_before"] = static_cast<double>(
            statistics.framesOvertaken + statistics.framesFailed - statistics.failedStopped);
        state.counters["file_rate"] = status.rate / 100.0;
        state.counters["cpu_ms_per_frame"] =
            cpu * 1000.0 / static_cast<double>(status.framesWritten);
    }
    std::error_code ignored;
    fs::remove(path, ignored);
    if (handle != 0) {
        Quorix_Release(handle);
    }
}
BENCHMARK(BM_Record)
    ->ArgNames({"bits"})
    ->Arg(24)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
