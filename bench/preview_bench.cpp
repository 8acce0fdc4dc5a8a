// Frames per second that the windowless preview delivers to an application: an emulated camera
// that answers every frame request at once, the preview with no pause between frames (wait time
// 0), every frame processed in the colour mode (24-bit colour, or the 8-bit raw mosaic) and copied
// into the caller's buffer at full resolution (2048 x 1536), and a frame message posted to a
// message window for each. The benchmark thread takes the messages as an application would.
//
// One iteration is one frame message that carries a frame; the rate is over real (wall-clock)
// time. Reported: items_per_second (frames per second delivered), bytes_per_second (bytes copied
// into the caller's buffer), the frames the camera rendered meanwhile (camera_frames: those beyond
// the delivered ones were overtaken in the ring by newer frames) and the rate the library itself
// reports in the frame info (library_fps, the last value seen). At 24 bits also with every image
// adjustment on (hue, saturation, gamma, contrast, sharpness, brightness) from a camera at its own
// frame timing, whose 118 frames per second the preview must still deliver.
//
// BM_PreviewWindow: the same 24-bit preview of a camera sending the sensor's 118 frames per second
// (5 ms exposure), without a window and with the top-level preview window (2048 x 1536) on an X
// server of the benchmark's own (Xvfb), in the same run. The application's frames must keep the
// camera's rate with the window shown; the window shows as many as the display takes
// (window_fps, frames drawn per second of the run).

#include <benchmark/benchmark.h>
#include <sys/mman.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <quorix/quorix.h>

#include "api/sdk_chain.h"
#include "context/quorix.h"
#include "private_device_table.h"
#include "sim/emulator.h"
#include "support/x_server.h"

namespace {

constexpr int32_t kWidth = 2048;
constexpr int32_t kHeight = 1536;
constexpr int32_t kMessageWaitMs = 5000;
// Frames per benchmark run: about three seconds at the rates of interest.
constexpr int64_t kFramesPerRun = 360;
constexpr double kSensorFramesPerSecond = 118.0;

using quorix::bench::PrivateDeviceTable;

// One emulated camera as fast as possible, a context on it set up for the windowless preview in
// the colour mode, a message window for its frames and a buffer for their pixels.
struct PreviewSetup {
    // `paced`: the camera at the sensor's rate also without the adjustments.
    PreviewSetup(int32_t bitsPerPixel, bool adjusted, bool everyFrame, bool paced = false) {
        quorix::sim::CameraConfig config;
        // With the adjustments the camera sends at the sensor's full 118 frames per second, as a
        // real camera does (an emulator rendering as fast as it can would take the processors
        // the adjustments need). Its register timing (frame length 1536 + 34 lines of 444
        // clocks) would give only 107.5, so the rate is set outright, as the camera daemon does.
        paced = paced || adjusted;
        config.asFastAsPossible = !paced;
        config.framesPerSecond = paced ? kSensorFramesPerSecond : 0.0;
        camera = quorix::sim::AttachCamera(config);
        window = Quorix_CreateMessageWindow();
        handle = Quorix_Initialize(nullptr);
        const size_t stride = (static_cast<size_t>(kWidth) * bitsPerPixel / 8 + 3) & ~size_t{3};
        buffer.resize(stride * kHeight);
        ok = window != nullptr && handle != 0 && Quorix_SetColorMode(handle, bitsPerPixel) == 1 &&
             Quorix_SetWaitTime(handle, 0) == 1 &&
             Quorix_SetPreviewWindow(handle, nullptr, 0, 0, 0, 0) == 1 &&
             Quorix_SetDeliveryMode(handle, everyFrame ? QUORIX_DELIVERY_EVERY_FRAME
                                                       : QUORIX_DELIVERY_NEWEST) == 1;
        if (paced) {
            ok = ok && Quorix_SetExposureTime(handle, 50) == 1;
        }
        if (adjusted) {
            ok = ok && Quorix_SetHue(handle, 30) == 1 && Quorix_SetSaturation(handle, 60) == 1 &&
                 Quorix_SetGamma(handle, 140) == 1 && Quorix_SetContrast(handle, 20) == 1 &&
                 Quorix_SetSharpness(handle, 10) == 1 && Quorix_SetBrightness(handle, 30) == 1;
        }
    }
    ~PreviewSetup() {
        if (handle != 0) {
            Quorix_StopPreview(handle);
            Quorix_Release(handle);
        }
        if (window != nullptr) {
            Quorix_DestroyMessageWindow(window);
        }
        quorix::sim::DetachAllCameras();
    }
    PreviewSetup(const PreviewSetup&) = delete;
    PreviewSetup& operator=(const PreviewSetup&) = delete;

    bool Start() {
        return Quorix_CallBackPreview(handle, window, buffer.data(),
                                      static_cast<uint32_t>(buffer.size()), 1) == 1;
    }

    // Waits for the next frame message that carries a frame. False on a message reporting an
    // error, or when none comes in time.
    bool NextFrame(uint32_t* frameRate) {
        QuorixMessage message{};
        while (Quorix_GetWindowMessage(window, &message, kMessageWaitMs) == 1) {
            if (message.message != QUORIX_MSG_FRAME) {
                continue;
            }
            if (message.wParam == 0) {
                return false;
            }
            *frameRate = reinterpret_cast<const QuorixFrameInfo*>(message.wParam)->frameRate;
            return true;
        }
        return false;
    }

    PrivateDeviceTable table;
    std::shared_ptr<quorix::sim::EmulatedCamera> camera;
    QuorixWindow window = nullptr;
    QuorixHandle handle = 0;
    std::vector<uint8_t> buffer;
    bool ok = false;
};

// The arguments are the colour mode's bits per pixel, whether every adjustment is on and whether
// every frame is delivered (a few frames waiting in the ring when one takes longer) or only the
// newest.
void BM_CallBackPreview(benchmark::State& state) {
    const auto bitsPerPixel = static_cast<int32_t>(state.range(0));
    PreviewSetup setup(bitsPerPixel, state.range(1) != 0, state.range(2) != 0);
    if (!setup.ok || !setup.Start()) {
        state.SkipWithError("the windowless preview does not start");
        return;
    }
    // The first frame also prepares the buffers: not part of the measurement.
    uint32_t frameRate = 0;
    if (!setup.NextFrame(&frameRate)) {
        state.SkipWithError("no first frame");
        return;
    }
    const uint64_t rendered = setup.camera->FramesProduced();
    for (auto _ : state) {
        if (!setup.NextFrame(&frameRate)) {
            state.SkipWithError("a frame message reported an error or none came");
            break;
        }
    }
    const uint64_t cameraFrames = setup.camera->FramesProduced() - rendered;
    Quorix_StopPreview(setup.handle);
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(setup.buffer.size()));
    state.counters["camera_frames"] = static_cast<double>(cameraFrames);
    state.counters["library_fps"] = frameRate / 10.0;
}
BENCHMARK(BM_CallBackPreview)
    ->ArgNames({"bits", "adjusted", "every_frame"})
    ->Args({24, 0, 0})
    ->Args({8, 0, 0})
    ->Args({24, 1, 0})
    ->Args({24, 1, 1})
    ->Iterations(kFramesPerRun)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// The argument is whether the preview window is shown.
void BM_PreviewWindow(benchmark::State& state) {
    const bool shown = state.range(0) != 0;
    // One X server for the whole run, started when the first window needs it.
    static quorix::test::XServer server;
    static bool started = false;
    static std::string failure;
    if (shown && !started) {
        started = true;
        failure = server.Start();
    }
    if (shown) {
        if (!failure.empty()) {
            state.SkipWithError(failure.c_str());
            return;
        }
        setenv("DISPLAY", server.Name().c_str(), 1);
    }
    PreviewSetup setup(24, false, false, true);
    if (shown) {
        setup.ok =
            setup.ok && Quorix_SetPreviewWindow(setup.handle, nullptr, 0, 0, kWidth, kHeight) == 1;
    }
    if (!setup.ok || !setup.Start()) {
        state.SkipWithError("the preview does not start");
        return;
    }
    uint32_t frameRate = 0;
    if (!setup.NextFrame(&frameRate)) {
        state.SkipWithError("no first frame");
        return;
    }
    quorix::CQuorix* context = quorix::SdkRegistry().Lookup(setup.handle);
    const uint64_t drawnBefore = context->PreviewWindowCounts().drawn;
    const uint64_t rendered = setup.camera->FramesProduced();
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        if (!setup.NextFrame(&frameRate)) {
            state.SkipWithError("a frame message reported an error or none came");
            break;
        }
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const uint64_t drawn = context->PreviewWindowCounts().drawn - drawnBefore;
    const uint64_t cameraFrames = setup.camera->FramesProduced() - rendered;
    Quorix_StopPreview(setup.handle);
    state.SetItemsProcessed(state.iterations());
    state.counters["camera_frames"] = static_cast<double>(cameraFrames);
    state.counters["library_fps"] = frameRate / 10.0;
    state.counters["window_fps"] = static_cast<double>(drawn) / seconds;
}
BENCHMARK(BM_PreviewWindow)
    ->ArgName("window")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(kFramesPerRun)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
