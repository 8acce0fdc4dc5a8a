// How fast the engine's capture thread moves full frames (2048 x 1536, 8 and 16 bits) from an
// emulated camera that answers every frame request at once, through the SDK's USB driver, the
// controller's header and chunked data reads, into the ring. Beside it: a plain memcpy of one
// frame, the cost floor of the one copy the engine makes per frame (raw buffer to ring slot).
//
// Reported per benchmark: items_per_second (frames per second), bytes_per_second, and for the
// capture the frames the camera rendered. All rates are over real (wall-clock) time: the
// benchmark thread mostly sleeps while the capture thread works.

#include <benchmark/benchmark.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/quorix_u3r5_base.h"
#include "private_device_table.h"
#include "sensors/sensor_base.h"
#include "sim/emulator.h"

namespace {

using quorix::CQuorixUSB3R5SimpleSdk;

constexpr int32_t kImx252 = 12736;
constexpr uint8_t kFpgaDataWidth = 0x3C;
constexpr uint32_t kFrameWaitMs = 3000;

// An engine whose data width flag can be set the way the engine's data-width setting stores it.
class BenchEngine : public CQuorixUSB3R5SimpleSdk {
public:
    void SetDataWidthFlag(int32_t wide) { m_dataWidth = wide; }
};

using quorix::bench::PrivateDeviceTable;

// One emulated camera as fast as possible and an engine that has it open at full resolution.
struct CaptureSetup {
    explicit CaptureSetup(bool sixteenBit) {
        quorix::sim::CameraConfig config;
        config.asFastAsPossible = true;
        camera = quorix::sim::AttachCamera(config);
        engine = std::make_unique<BenchEngine>();
        ok = engine->SetCameraId(kImx252) == 1 &&
             engine->CreateController(quorix::platform::WindowHandle{}, nullptr) == 1 &&
             engine->OpenCamera(0) == 0;
        if (!ok)
            return;
        quorix::CSensorBase& head = *engine->Sensor();
        ok = head.SetDataWidth(sixteenBit ? 1 : 0) == 1 &&
             engine->WriteFpgaRegister(kFpgaDataWidth, sixteenBit ? 2 : 1) == 1 &&
             head.SetCaptureWindow(0, 2048, 0, 1536, 0) == 1;
        engine->SetDataWidthFlag(sixteenBit ? 1 : 0);
    }
    ~CaptureSetup() {
        engine.reset();
        quorix::sim::DetachAllCameras();
    }
    CaptureSetup(const CaptureSetup&) = delete;
    CaptureSetup& operator=(const CaptureSetup&) = delete;

    PrivateDeviceTable table;
    std::shared_ptr<quorix::sim::EmulatedCamera> camera;
    std::unique_ptr<BenchEngine> engine;
    bool ok = false;
};

// Waits until the capture thread has stored a frame beyond `seen`.
bool WaitForFrameAfter(BenchEngine& engine, uint64_t seen) {
    while (engine.FramesStored() <= seen) {
        if (engine.WaitFrame(kFrameWaitMs) == 1)
            return false;
    }
    return true;
}

// Continuous capture; each iteration waits for the next stored frame. Frames are counted by the
// engine, so frames stored while the benchmark thread was not looking count too.
void BM_CaptureThread(benchmark::State& state) {
    const bool sixteenBit = state.range(0) == 16;
    CaptureSetup setup(sixteenBit);
    if (!setup.ok || setup.engine->StartCapture(0) != 1) {
        state.SkipWithError("the emulated camera does not open or capture");
        return;
    }
    BenchEngine& engine = *setup.engine;
    // The first frame also prepares the buffers: not part of the measurement.
    if (!WaitForFrameAfter(engine, 0)) {
        state.SkipWithError("no first frame");
        return;
    }
    const uint64_t first = engine.FramesStored();
    const uint64_t rendered = setup.camera->FramesProduced();
    for (auto _ : state) {
        if (!WaitForFrameAfter(engine, engine.FramesStored())) {
            state.SkipWithError("capture failed");
            break;
        }
    }
    const uint64_t frames = engine.FramesStored() - first;
    const uint64_t cameraFrames = setup.camera->FramesProduced() - rendered;
    engine.StopCapture(0);
    state.SetItemsProcessed(static_cast<int64_t>(frames));
    state.SetBytesProcessed(static_cast<int64_t>(frames * engine.FrameSize()));
    state.counters["camera_frames"] = static_cast<double>(cameraFrames);
}
BENCHMARK(BM_CaptureThread)
    ->Arg(8)
    ->Arg(16)
    ->UseRealTime()
    ->MinTime(3.0)
    ->Unit(benchmark::kMillisecond);

// The same with a reader that copies every newest frame out of the ring (each row reversed), as
// the camera context does for a preview.
void BM_CaptureAndRead(benchmark::State& state) {
    const bool sixteenBit = state.range(0) == 16;
    CaptureSetup setup(sixteenBit);
    if (!setup.ok || setup.engine->StartCapture(0) != 1) {
        state.SkipWithError("the emulated camera does not open or capture");
        return;
    }
    BenchEngine& engine = *setup.engine;
    if (!WaitForFrameAfter(engine, 0)) {
        state.SkipWithError("no first frame");
        return;
    }
    std::vector<uint8_t> destination(engine.FrameSize());
    int64_t reads = 0;
    for (auto _ : state) {
        if (engine.WaitFrame(kFrameWaitMs) == 3) {
            engine.ReadNewestFrame(destination.data(), 0);
            benchmark::DoNotOptimize(destination.data());
            ++reads;
        }
    }
    engine.StopCapture(0);
    state.SetItemsProcessed(reads);
    state.SetBytesProcessed(reads * static_cast<int64_t>(destination.size()));
}
BENCHMARK(BM_CaptureAndRead)
    ->Arg(8)
    ->Arg(16)
    ->UseRealTime()
    ->MinTime(3.0)
    ->Unit(benchmark::kMillisecond);

// One frame's bytes copied with memcpy: the yardstick.
void BM_MemcpyFrame(benchmark::State& state) {
    const size_t bytes = size_t{2048} * 1536 * (state.range(0) == 16 ? 2 : 1);
    std::vector<uint8_t> from(bytes, 0x5A);
    std::vector<uint8_t> to(bytes, 0);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), bytes);
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes));
}
BENCHMARK(BM_MemcpyFrame)->Arg(8)->Arg(16)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
