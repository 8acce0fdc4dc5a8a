// CPU time the emulator spends on the pixels of one frame: 2048 x 1536 at full resolution and
// 1024 x 768 sub-sampled, at 8 and 16 bits. "Full" renders every pixel from the scene (what each
// frame cost before the emulator kept its picture); "Kept" is the camera's renderer, which draws
// the picture once per settings and then redraws only the marker and frame-number code per frame.
// Beside them, a plain copy of a frame of the same size. The frame number advances every iteration,
// so the marker moves as it does on a streaming camera.
//
// Reported per benchmark: items_per_second (frames per second of one core) and bytes_per_second.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "sim/camera_registers.h"
#include "sim/frame_generator.h"

namespace {

using quorix::sim::FrameRecipe;

FrameRecipe Recipe(bool sixteenBit, bool subSampled) {
    FrameRecipe recipe;
    quorix::sim::ReadoutSettings& r = recipe.readout;
    r.bytesPerPixel = sixteenBit ? 2 : 1;
    r.readoutMode =
        subSampled ? quorix::sim::reg::kReadoutSubSampled : quorix::sim::reg::kReadoutFull;
    r.windowWidth = 2048;
    r.windowHeight = 1536;
    r.subSampleH = subSampled;
    r.subSampleV = subSampled;
    r.frameWidth = subSampled ? 1024 : 2048;
    r.frameHeight = subSampled ? 768 : 1536;
    r.frameBytes = static_cast<uint32_t>(r.frameWidth * r.frameHeight * r.bytesPerPixel);
    r.brightness = 1.0;
    return recipe;
}

template <typename RenderFn>
void RunRender(benchmark::State& state, RenderFn render) {
    FrameRecipe recipe = Recipe(state.range(0) == 16, state.range(1) != 0);
    size_t bytes = 0;
    for (auto _ : state) {
        std::vector<uint8_t> frame = render(recipe);
        benchmark::DoNotOptimize(frame.data());
        bytes = frame.size();
        ++recipe.frameNumber;
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}

void BM_RenderFull(benchmark::State& state) {
    RunRender(state, [](const FrameRecipe& r) { return quorix::sim::FrameGenerator::Render(r); });
}

void BM_RenderKept(benchmark::State& state) {
    quorix::sim::FrameRenderer renderer;
    RunRender(state, [&](const FrameRecipe& r) { return renderer.Render(r); });
}

// Yardstick: a copy of a frame of the same size into a new buffer, the floor of "Kept".
void BM_CopyFrame(benchmark::State& state) {
    const std::vector<uint8_t> picture =
        quorix::sim::FrameGenerator::Render(Recipe(state.range(0) == 16, state.range(1) != 0));
    RunRender(state, [&](const FrameRecipe&) { return picture; });
}

// Args: bits per sample, sub-sampled (0/1).
BENCHMARK(BM_RenderFull)->ArgNames({"bits", "sub"})->ArgsProduct({{8, 16}, {0, 1}});
BENCHMARK(BM_RenderKept)->ArgNames({"bits", "sub"})->ArgsProduct({{8, 16}, {0, 1}});
BENCHMARK(BM_CopyFrame)->ArgNames({"bits", "sub"})->ArgsProduct({{8, 16}, {0, 1}});

}  // namespace
