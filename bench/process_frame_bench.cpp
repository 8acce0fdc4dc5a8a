// How long the camera context's frame routine (CQuorix::ProcessFrame) takes for one full frame
// (2048 x 1536) in each colour type, with neutral image settings: unit Bayer gains, the camera's
// Bayer mode 3, no gray processing, no mirroring; and at 24 and 48 bits with every output
// adjustment on (hue, saturation, gamma, contrast, sharpness, brightness), the case the routine
// must finish within the sensor's 8.47 ms frame period. The routine splits its rows among the
// processors; run with QUORIX_THREADS=1 for its one-thread figures. The context runs against an
// emulated camera; one snapshot fills the raw slot, then the routine runs again and again on that
// frame. For the raw types (8, 16) the routine has no colour step, so their figures are its fixed
// cost.
//
// Reported per benchmark: items_per_second (frames per second) and bytes_per_second (bytes of the
// output image the routine leaves).

#include <benchmark/benchmark.h>
#include <sys/mman.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include <quorix/quorix.h>

#include "api/sdk_chain.h"
#include "context/quorix.h"
#include "private_device_table.h"
#include "sim/emulator.h"

namespace {

using quorix::bench::PrivateDeviceTable;

// The output slot of each colour type, by bits per pixel.
quorix::ImageSlot OutputSlotFor(int32_t bitsPerPixel) {
    switch (bitsPerPixel) {
        case 8:
            return quorix::kRaw8;
        case 16:
            return quorix::kRaw16;
        case 24:
            return quorix::kRgb24;
        case 32:
            return quorix::kRgb32;
        case 48:
            return quorix::kRgb48;
        default:
            return quorix::kRgb64;
    }
}

// One emulated camera as fast as possible and a context that has taken one frame of the colour
// type from it with neutral settings.
// Every output adjustment on, at values in the middle of their ranges.
constexpr std::array<std::array<int32_t, 2>, 6> kAllAdjustments = {{
    {QUORIX_VALUE_HUE, 30},
    {QUORIX_VALUE_SATURATION, 60},
    {QUORIX_VALUE_GAMMA, 140},
    {QUORIX_VALUE_CONTRAST, 20},
    {QUORIX_VALUE_SHARPNESS, 10},
    {QUORIX_VALUE_BRIGHTNESS, 30},
}};

struct ContextSetup {
    explicit ContextSetup(int32_t bitsPerPixel, bool adjusted = false) {
        quorix::sim::CameraConfig config;
        config.asFastAsPossible = true;
        camera = quorix::sim::AttachCamera(config);
        handle = Quorix_Initialize(nullptr);
        if (handle == 0) {
            return;
        }
        constexpr std::array<std::array<int32_t, 2>, 7> kNeutral = {{
            {QUORIX_VALUE_BAYER_GAIN_RED, 100},
            {QUORIX_VALUE_BAYER_GAIN_GREEN, 100},
            {QUORIX_VALUE_BAYER_GAIN_BLUE, 100},
            {QUORIX_VALUE_BAYER_MODE, 3},
            {QUORIX_VALUE_GRAY_MODE, 0},
            {QUORIX_VALUE_BRIGHTNESS, 0},
            {QUORIX_VALUE_CONTRAST, 0},
        }};
        ok = true;
        for (const auto& [id, value] : kNeutral) {
            ok = ok && Quorix_SetFilterValue(handle, id, value) == 1;
        }
        if (adjusted) {
            for (const auto& [id, value] : kAllAdjustments) {
                ok = ok && Quorix_SetFilterValue(handle, id, value) == 1;
            }
        }
        ok = ok && Quorix_SetColorMode(handle, bitsPerPixel) == 1 &&
             Quorix_SnapShot(handle, nullptr, 0, 1) == 1;
        context = ok ? quorix::SdkRegistry().Lookup(handle) : nullptr;
        ok = context != nullptr;
    }
    ~ContextSetup() {
        if (handle != 0) {
            Quorix_Release(handle);
        }
        quorix::sim::DetachAllCameras();
    }
    ContextSetup(const ContextSetup&) = delete;
    ContextSetup& operator=(const ContextSetup&) = delete;

    PrivateDeviceTable table;
    std::shared_ptr<quorix::sim::EmulatedCamera> camera;
    QuorixHandle handle = 0;
    quorix::CQuorix* context = nullptr;
    bool ok = false;
};

// The arguments are the colour type's bits per pixel and whether every adjustment is on.
void BM_ProcessFrame(benchmark::State& state) {
    const auto bitsPerPixel = static_cast<int32_t>(state.range(0));
    ContextSetup setup(bitsPerPixel, state.range(1) != 0);
    if (!setup.ok) {
        state.SkipWithError("the emulated camera gives no snapshot in this colour type");
        return;
    }
    quorix::CQuorix& context = *setup.context;
    const quorix::CImageBuffer& output = *context.Image(OutputSlotFor(bitsPerPixel));
    if (output.Width() != 2048 || output.Height() != 1536 ||
        output.BitsPerPixel() != bitsPerPixel) {
        state.SkipWithError("the output slot does not hold a full frame of the colour type");
        return;
    }
    // The routine expects the frame lock; nothing else runs on this context meanwhile.
    std::lock_guard lock(context.FrameLock());
    for (auto _ : state) {
        context.ProcessFrame();
        benchmark::DoNotOptimize(output.Bits());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(output.Stride()) *
                            output.Height());
}
BENCHMARK(BM_ProcessFrame)
    ->ArgNames({"bits", "adjusted"})
    ->Args({8, 0})
    ->Args({16, 0})
    ->Args({24, 0})
    ->Args({32, 0})
    ->Args({48, 0})
    ->Args({64, 0})
    ->Args({8, 1})
    ->Args({24, 1})
    ->Args({48, 1})
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);

}  // namespace
