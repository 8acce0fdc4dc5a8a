// How fast the image adjustments run on one full colour frame (2048 x 1536), beside OpenCV's
// nearest equivalent of each on the very same frame as the yardstick:
//   gamma and contrast    ours: one composed table        OpenCV: cv::LUT (8-bit only)
//   hue and saturation    ours: integer HSL arithmetic    OpenCV: BGR -> HLS -> BGR (8-bit only)
//   sharpness             ours: 4 x 4 box unsharp mask    OpenCV: cv::blur 4 x 4 + addWeighted
//   brightness            ours: one table                 OpenCV: convertTo with a scale
//   all of them           ours: CImageAdjuster            OpenCV: the four above in a row
// The frame is the emulator's scene demosaiced at 24 or 48 bits. Ours splits rows among the
// processors like OpenCV's default; run with QUORIX_THREADS=1 for its one-thread figures, the
// like-for-like comparison with OpenCV's one-thread case. The results are not the same pictures
// (OpenCV's HLS, blur and rounding differ), so only the speed is compared. The whole frame
// routine with demosaic and every adjustment is in process_frame_bench.cpp.
//
// Reported per benchmark: items_per_second (frames per second) and bytes_per_second (bytes of
// the colour image).

#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <opencv2/core.hpp>
#include <opencv2/core/utility.hpp>
#include <opencv2/imgproc.hpp>
#include <vector>

#include "imaging/adjustments.h"
#include "imaging/demosaic.h"
#include "imaging/image_adjuster.h"
#include "imaging/image_buffer.h"
#include "scene_frames.h"

namespace {

using quorix::AdjustmentSettings;
using quorix::CImageBuffer;

enum Step : int64_t { kGammaContrast, kHueSaturation, kSharpness, kBrightness, kAll };

// The values each case turns on; the others stay neutral.
AdjustmentSettings SettingsFor(int64_t step) {
    AdjustmentSettings s;
    if (step == kGammaContrast || step == kAll) {
        s.gamma = 140;
        s.contrast = 20;
    }
    if (step == kHueSaturation || step == kAll) {
        s.hue = 30;
        s.saturation = 60;
    }
    if (step == kSharpness || step == kAll) {
        s.sharpness = 10;
    }
    if (step == kBrightness || step == kAll) {
        s.brightness = 30;
    }
    return s;
}

// The scene demosaiced at 24 or 48 bits, made once per depth.
const CImageBuffer& ColourFrame(uint16_t bits) {
    static CImageBuffer frames[2];
    CImageBuffer& frame = frames[bits == 48 ? 1 : 0];
    if (frame.Bits() == nullptr) {
        const CImageBuffer& raw = quorix::bench::SceneRawFrame(bits == 48);
        if (raw.Bits() != nullptr && frame.Create(raw.Width(), raw.Height(), bits)) {
            quorix::Demosaic(frame, raw, quorix::bench::kSceneBayerMode, 100, 100);
        }
    }
    return frame;
}

// Arguments: the step and the depth.
void BM_Adjust(benchmark::State& state) {
    const int64_t step = state.range(0);
    const auto bits = static_cast<uint16_t>(state.range(1));
    const CImageBuffer& source = ColourFrame(bits);
    CImageBuffer image;
    CImageBuffer scratch;
    if (source.Bits() == nullptr || !image.CopyFormat(source) || !scratch.CopyFormat(source)) {
        state.SkipWithError("cannot make the frames");
        return;
    }
    const AdjustmentSettings settings = SettingsFor(step);
    quorix::CImageAdjuster adjuster;
    for (auto _ : state) {
        // Every iteration adjusts the scene afresh; the copy is timed too, as a fraction of it.
        std::memcpy(image.Bits(), source.Bits(), source.SizeBytes());
        adjuster.Apply(image, scratch, settings);
        benchmark::DoNotOptimize(image.Bits());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(source.SizeBytes()));
}
BENCHMARK(BM_Adjust)
    ->ArgNames({"step", "bits"})
    ->ArgsProduct({{kGammaContrast, kHueSaturation, kSharpness, kBrightness, kAll}, {24, 48}})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// The same copy alone, to subtract from the figures above.
void BM_FrameCopy(benchmark::State& state) {
    const CImageBuffer& source = ColourFrame(static_cast<uint16_t>(state.range(0)));
    std::vector<uint8_t> image(source.SizeBytes());
    for (auto _ : state) {
        std::memcpy(image.data(), source.Bits(), source.SizeBytes());
        benchmark::DoNotOptimize(image.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(source.SizeBytes()));
}
BENCHMARK(BM_FrameCopy)
    ->ArgName("bits")
    ->Arg(24)
    ->Arg(48)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// OpenCV's counterparts. Arguments: the step, the depth and the thread count (1, or 0 for
// OpenCV's default). Table and HLS conversions exist for 8-bit channels only.
void BM_OpenCv(benchmark::State& state) {
    const int64_t step = state.range(0);
    const auto bits = static_cast<uint16_t>(state.range(1));
    const int threads = static_cast<int>(state.range(2));
    const bool wide = bits == 48;
    if (wide && (step == kGammaContrast || step == kHueSaturation || step == kAll)) {
        state.SkipWithError("OpenCV has no 16-bit table or HLS conversion");
        return;
    }
    const CImageBuffer& frame = ColourFrame(bits);
    const cv::Mat source(frame.Height(), frame.Width(), wide ? CV_16UC3 : CV_8UC3,
                         const_cast<uint8_t*>(frame.Bits()), static_cast<size_t>(frame.Stride()));
    cv::Mat image = source.clone();
    cv::Mat work;
    cv::Mat blurred;
    cv::Mat table(1, 256, CV_8U);
    const std::vector<uint16_t> composed = [] {
        const std::vector<uint16_t> gamma = quorix::GammaTable(140, false);
        const std::vector<uint16_t> contrast = quorix::ContrastTable(20, false);
        std::vector<uint16_t> both(256);
        for (size_t i = 0; i < 256; ++i) {
            both[i] = contrast[gamma[i]];
        }
        return both;
    }();
    for (int i = 0; i < 256; ++i) {
        table.at<uint8_t>(i) = static_cast<uint8_t>(composed[static_cast<size_t>(i)]);
    }
    const double amount = 1.0;  // sharpness 10
    const double scale = quorix::BrightnessFactor(30);
    const int previousThreads = cv::getNumThreads();
    cv::setNumThreads(threads == 0 ? -1 : threads);
    state.counters["threads"] = cv::getNumThreads();
    for (auto _ : state) {
        source.copyTo(image);
        if (step == kGammaContrast || step == kAll) {
            cv::LUT(image, table, image);
        }
        if (step == kHueSaturation || step == kAll) {
            cv::cvtColor(image, work, cv::COLOR_BGR2HLS);
            cv::cvtColor(work, image, cv::COLOR_HLS2BGR);
        }
        if (step == kSharpness || step == kAll) {
            cv::blur(image, blurred, cv::Size(4, 4));
            cv::addWeighted(image, 1.0 + amount, blurred, -amount, 0.0, image);
        }
        if (step == kBrightness || step == kAll) {
            image.convertTo(image, -1, scale);
        }
        benchmark::DoNotOptimize(image.data);
        benchmark::ClobberMemory();
    }
    cv::setNumThreads(previousThreads);
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(frame.SizeBytes()));
}
BENCHMARK(BM_OpenCv)
    ->ArgNames({"step", "bits", "threads"})
    ->ArgsProduct({{kGammaContrast, kHueSaturation, kSharpness, kBrightness, kAll},
                   {24, 48},
                   {1, 0}})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
