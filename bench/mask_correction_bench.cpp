// How long the raw-frame corrections of the frame routine take on one full frame (2048 x 1536)
// at 8 and 16 bits per sample, beside a plain copy of the same frame as the yardstick. The
// frame routine must keep up with the sensor's 118 frames per second (8.47 ms per frame for all
// of its steps).
//
// Frames: the emulator's scene through the colour filter (8-bit samples the 12-bit value >> 4,
// 16-bit samples the value << 4), and an even target seen through a lens that loses 40 % of the
// light towards the corners. Planes: a dark plane at the converter's offset and a white plane of
// the even target at 3000; the hot map marks the emulator's six hot pixels.
//
// Cases: the flat field on the scene; the dot filter on the even target (a handful of marked
// pixels, the usual monochrome case) and on the colour scene, whose mosaic makes every pixel in a
// strongly coloured patch stand out from its differently coloured neighbours. The corrections
// split a frame's rows among the processors; run with QUORIX_THREADS=1 for one-thread figures.
// Each iteration starts from the same frame; restoring it is not timed. Reported per benchmark:
// items_per_second (frames per second).

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "imaging/image_buffer.h"
#include "imaging/mask_correction.h"
#include "sim/camera_config.h"
#include "sim/scene.h"

namespace {

using quorix::CImageBuffer;

constexpr int32_t kWidth = quorix::sim::kSensorWidth;
constexpr int32_t kHeight = quorix::sim::kSensorHeight;
constexpr double kVignetting = 0.4;
constexpr int32_t kDarkOffset = 256;  // [12-bit converter units]

// Light reaching a pixel through the lens, 1 at the centre and 1 - kVignetting in the corners.
double LensFactor(int32_t x, int32_t y) {
    const double cx = (kWidth - 1) / 2.0;
    const double cy = (kHeight - 1) / 2.0;
    const double dx = x - cx;
    const double dy = y - cy;
    return 1.0 - kVignetting * (dx * dx + dy * dy) / (cx * cx + cy * cy);
}

void Store(CImageBuffer& image, int32_t x, int32_t y, int32_t value12) {
    uint8_t* row = image.Row(y);
    if (image.BitsPerPixel() == 16) {
        const int32_t sample = value12 << 4;
        row[2 * x] = static_cast<uint8_t>(sample & 0xFF);
        row[2 * x + 1] = static_cast<uint8_t>(sample >> 8);
    } else {
        row[x] = static_cast<uint8_t>(value12 >> 4);
    }
}

// Everything one depth needs: the two frames, the planes and the maps.
struct Setup {
    explicit Setup(bool sixteenBit) {
        const uint16_t bits = sixteenBit ? 16 : 8;
        for (CImageBuffer* image : {&scene, &target, &work, &dark, &white, &hot, &dead, &dots}) {
            image->Create(kWidth, kHeight, bits);
        }
        std::vector<uint16_t> nominal(static_cast<size_t>(kWidth));
        for (int32_t y = 0; y < kHeight; ++y) {
            quorix::sim::Scene::NominalRow(y, 0, nominal.data());
            for (int32_t x = 0; x < kWidth; ++x) {
                const double lens = LensFactor(x, y);
                Store(scene, x, y, nominal[static_cast<size_t>(x)]);
                Store(target, x, y, static_cast<int32_t>(1500 * lens) + kDarkOffset);
                Store(dark, x, y, kDarkOffset);
                Store(white, x, y, static_cast<int32_t>(3000 * lens) + kDarkOffset);
            }
        }
        for (const quorix::sim::SensorPixel& pixel : quorix::sim::kHotPixels) {
            Store(target, pixel.column, pixel.row, 4095);
            Store(dark, pixel.column, pixel.row, 4095);
        }
        quorix::DeriveDefectMap(hot, dark, true);
        quorix::DeriveDefectMap(dead, white, false);
    }

    CImageBuffer scene, target, work, dark, white, hot, dead, dots;
};

Setup& SetupFor(bool sixteenBit) {
    static Setup setups[2] = {Setup(false), Setup(true)};
    return setups[sixteenBit ? 1 : 0];
}

void Restore(CImageBuffer& work, const CImageBuffer& from) {
    std::memcpy(work.Bits(), from.Bits(), work.SizeBytes());
}

// The argument is the bits per sample.
void BM_FrameCopy(benchmark::State& state) {
    Setup& s = SetupFor(state.range(0) == 16);
    for (auto _ : state) {
        Restore(s.work, s.scene);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FrameCopy)
    ->ArgName("bits")
    ->Arg(8)
    ->Arg(16)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);

void BM_FlatField(benchmark::State& state) {
    Setup& s = SetupFor(state.range(0) == 16);
    for (auto _ : state) {
        state.PauseTiming();
        Restore(s.work, s.scene);
        state.ResumeTiming();
        quorix::ApplyFlatField(s.work, s.dark, s.white, 0, 0, 2);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FlatField)
    ->ArgName("bits")
    ->Arg(8)
    ->Arg(16)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);

// Arguments: bits per sample; 0 for the even target, 1 for the colour scene.
void BM_DotFilter(benchmark::State& state) {
    Setup& s = SetupFor(state.range(0) == 16);
    const CImageBuffer& frame = state.range(1) == 0 ? s.target : s.scene;
    for (auto _ : state) {
        state.PauseTiming();
        Restore(s.work, frame);
        state.ResumeTiming();
        quorix::ApplyDotFilter(s.work, s.hot, s.dead, s.dots, 0, 0);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DotFilter)
    ->ArgNames({"bits", "scene"})
    ->Args({8, 0})
    ->Args({16, 0})
    ->Args({8, 1})
    ->Args({16, 1})
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);

}  // namespace
