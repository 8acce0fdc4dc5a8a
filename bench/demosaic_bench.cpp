// How fast the SDK's Bayer demosaic turns one full raw frame (2048 x 1536) into colour, beside
// OpenCV's bilinear Bayer conversion of the very same frame as the yardstick.
//
// The frame is what the camera delivers at its nominal exposure: the emulator's scene seen
// through the sensor's colour filter (G R on even rows, B G on odd rows, the host's Bayer mode 3),
// 8-bit samples being the 12-bit converter value >> 4 and 16-bit samples the value << 4.
//
// Cases: our Demosaic from 8-bit samples into 24 and 32 bits per pixel and from 16-bit samples
// into 48 and 64; OpenCV into BGR and BGRA from 8 and 16 bits, once limited to one thread and
// once with OpenCV's default thread count. Our demosaic splits a frame's rows among the
// processors like OpenCV's default; run with QUORIX_THREADS=1 for its one-thread figures, the
// like-for-like comparison with OpenCV's one-thread case. Reported per benchmark: items_per_second (frames per second) and
// bytes_per_second (bytes of the colour image written).
//
// OpenCV's bilinear conversion is not the same interpolation as ours (ours puts each pixel at the
// centre of a 2 x 2 cell), so only the speed is compared; the colour layout both assume is
// checked once on a tiny mosaic before the first OpenCV measurement.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <opencv2/core.hpp>
#include <opencv2/core/utility.hpp>
#include <opencv2/imgproc.hpp>

#include "imaging/demosaic.h"
#include "imaging/image_buffer.h"
#include "scene_frames.h"

namespace {

using quorix::CImageBuffer;

constexpr int32_t kWidth = quorix::bench::kSceneWidth;
constexpr int32_t kHeight = quorix::bench::kSceneHeight;
constexpr int32_t kBayerMode = quorix::bench::kSceneBayerMode;

// OpenCV names its Bayer codes after the second and third samples of the mosaic's second row
// (its first interior neighbourhood), not after the top-left 2 x 2 cell: our G R / B G mosaic has
// G B there, so its code is COLOR_BayerGB2BGR (OpenCV's alias for it is COLOR_BayerGRBG2BGR).
// MosaicLayoutMatches() confirms this on the library actually linked.
constexpr int kOpenCvBgr = cv::COLOR_BayerGB2BGR;
constexpr int kOpenCvBgra = cv::COLOR_BayerGB2BGRA;

const CImageBuffer& RawFrame(bool sixteenBit) {
    return quorix::bench::SceneRawFrame(sixteenBit);
}

// The raw frame as an OpenCV matrix over the same memory.
cv::Mat RawMat(bool sixteenBit) {
    const CImageBuffer& raw = RawFrame(sixteenBit);
    return cv::Mat(kHeight, kWidth, sixteenBit ? CV_16UC1 : CV_8UC1,
                   const_cast<uint8_t*>(raw.Bits()), static_cast<size_t>(raw.Stride()));
}

// A flat colour (blue 40, green 120, red 200) laid out as G R / B G: OpenCV must return exactly
// that colour in the interior, or the code above names the wrong layout.
bool MosaicLayoutMatches() {
    cv::Mat mosaic(8, 8, CV_8UC1);
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) {
            const bool oddRow = (y & 1) != 0;
            const bool oddColumn = (x & 1) != 0;
            mosaic.at<uint8_t>(y, x) = oddRow == oddColumn ? 120 : (oddRow ? 40 : 200);
        }
    }
    cv::Mat bgr;
    cv::cvtColor(mosaic, bgr, kOpenCvBgr);
    for (int y = 2; y < 6; ++y) {
        for (int x = 2; x < 6; ++x) {
            if (bgr.at<cv::Vec3b>(y, x) != cv::Vec3b(40, 120, 200)) {
                return false;
            }
        }
    }
    return true;
}

int32_t ColourBytes(int32_t bitsPerPixel) {
    return kWidth * kHeight * (bitsPerPixel / 8);
}

// Our demosaic at unit gains in the frame's own phase; the argument is the output depth.
void BM_Demosaic(benchmark::State& state) {
    const auto outBits = static_cast<uint16_t>(state.range(0));
    const bool sixteenBit = outBits >= 48;
    const CImageBuffer& raw = RawFrame(sixteenBit);
    CImageBuffer colour;
    if (raw.Bits() == nullptr || !colour.Create(kWidth, kHeight, outBits)) {
        state.SkipWithError("cannot allocate the frames");
        return;
    }
    const int32_t phase = quorix::EffectiveBayerPhase(kBayerMode, false, false, false);
    for (auto _ : state) {
        if (!quorix::Demosaic(colour, raw, phase, 100, 100)) {
            state.SkipWithError("Demosaic refused the frames");
            break;
        }
        benchmark::DoNotOptimize(colour.Bits());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * ColourBytes(outBits));
}
BENCHMARK(BM_Demosaic)
    ->ArgName("bits")
    ->Arg(24)
    ->Arg(32)
    ->Arg(48)
    ->Arg(64)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// OpenCV's bilinear conversion of the same frame into a preallocated image. Arguments: output
// depth as ours counts it (24/32 from 8-bit samples, 48/64 from 16-bit ones) and the thread
// count (1, or 0 for OpenCV's default).
void BM_OpenCvBayer(benchmark::State& state) {
    const auto outBits = static_cast<int32_t>(state.range(0));
    const bool sixteenBit = outBits >= 48;
    const bool alpha = outBits == 32 || outBits == 64;
    const int threads = static_cast<int>(state.range(1));
    if (!MosaicLayoutMatches()) {
        state.SkipWithError("OpenCV reads the G R / B G mosaic as another layout");
        return;
    }
    const cv::Mat raw = RawMat(sixteenBit);
    cv::Mat colour(kHeight, kWidth,
                   sixteenBit ? (alpha ? CV_16UC4 : CV_16UC3) : (alpha ? CV_8UC4 : CV_8UC3));
    const int previousThreads = cv::getNumThreads();
    cv::setNumThreads(threads == 0 ? -1 : threads);
    state.counters["threads"] = cv::getNumThreads();
    for (auto _ : state) {
        cv::cvtColor(raw, colour, alpha ? kOpenCvBgra : kOpenCvBgr);
        benchmark::DoNotOptimize(colour.data);
        benchmark::ClobberMemory();
    }
    cv::setNumThreads(previousThreads);
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * ColourBytes(outBits));
}
BENCHMARK(BM_OpenCvBayer)
    ->ArgNames({"bits", "threads"})
    ->ArgsProduct({{24, 32, 48, 64}, {1, 0}})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
