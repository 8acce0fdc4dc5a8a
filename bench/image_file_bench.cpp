// How long Quorix_SaveImage takes for one full frame (2048 x 1536) of the emulator's scene in each
// file format, at 24 and at 48 bits per pixel, beside OpenCV's imwrite of the very same frame
// (fetched with Quorix_GetImage) in the same run: BMP, JPEG at quality 100 (progressive, as the
// SDK writes it), PNG and TIFF at each library's default settings, and the SDK's raw pixel dump.
// OpenCV writes BMP and JPEG at 8 bits per channel only, so those have no 48-bit yardstick.
// Files go to $QUORIX_BENCH_DIR (default: the system's temporary directory) and are removed.
//
// Reported per benchmark: items_per_second (frames saved per second) and file_bytes.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <string>
#include <vector>

#include <quorix/quorix.h>

#include "private_device_table.h"
#include "sim/emulator.h"

namespace {

namespace fs = std::filesystem;
using quorix::bench::PrivateDeviceTable;

constexpr int32_t kWidth = 2048;
constexpr int32_t kHeight = 1536;

fs::path BenchDirectory() {
    const char* directory = std::getenv("QUORIX_BENCH_DIR");  // NOLINT
    return directory != nullptr && *directory != '\0' ? fs::path(directory)
                                                      : fs::temp_directory_path();
}

const char* Extension(int32_t format) {
    switch (format) {
        case QUORIX_SAVE_BMP:
            return ".bmp";
        case QUORIX_SAVE_RAW:
            return ".raw";
        case QUORIX_SAVE_PNG:
            return ".png";
        case QUORIX_SAVE_TIFF:
            return ".tif";
        default:
            return ".jpg";
    }
}

// One emulated camera and a context holding one processed frame of the colour type.
struct FrameSetup {
    explicit FrameSetup(int32_t bitsPerPixel) {
        quorix::sim::CameraConfig config;
        config.asFastAsPossible = true;
        camera = quorix::sim::AttachCamera(config);
        handle = Quorix_Initialize(nullptr);
        ok = handle != 0 && Quorix_SetColorMode(handle, bitsPerPixel) == 1 &&
             Quorix_SnapShot(handle, nullptr, 0, 1) == 1;
    }
    ~FrameSetup() {
        if (handle != 0) {
            Quorix_Release(handle);
        }
        quorix::sim::DetachAllCameras();
    }
    FrameSetup(const FrameSetup&) = delete;
    FrameSetup& operator=(const FrameSetup&) = delete;

    PrivateDeviceTable table;
    std::shared_ptr<quorix::sim::EmulatedCamera> camera;
    QuorixHandle handle = 0;
    bool ok = false;
};

// Arguments: format code (QUORIX_SAVE_*), bits per pixel.
void BM_SaveImage(benchmark::State& state) {
    const auto format = static_cast<int32_t>(state.range(0));
    const auto bits = static_cast<int32_t>(state.range(1));
    FrameSetup setup(bits);
    if (!setup.ok) {
        state.SkipWithError("the emulated camera gives no frame in this colour type");
        return;
    }
    const fs::path path = BenchDirectory() / ("quorix-bench-save" + std::string(Extension(format)));
    for (auto _ : state) {
        if (Quorix_SaveImage(setup.handle, path.c_str(), format) != 1) {
            state.SkipWithError("Quorix_SaveImage failed");
            break;
        }
    }
    std::error_code error;
    state.counters["file_bytes"] = static_cast<double>(fs::file_size(path, error));
    fs::remove(path, error);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SaveImage)
    ->ArgNames({"format", "bits"})
    ->ArgsProduct({{QUORIX_SAVE_BMP, QUORIX_SAVE_RAW, QUORIX_SAVE_JPEG_HIGH, QUORIX_SAVE_PNG,
                    QUORIX_SAVE_TIFF},
                   {24, 48}})
    ->Unit(benchmark::kMillisecond);

// The same frame through OpenCV. Arguments: format code, bits per pixel.
void BM_OpenCvImwrite(benchmark::State& state) {
    const auto format = static_cast<int32_t>(state.range(0));
    const auto bits = static_cast<int32_t>(state.range(1));
    FrameSetup setup(bits);
    const int type = bits == 24 ? CV_8UC3 : CV_16UC3;
    cv::Mat frame(kHeight, kWidth, type);
    // B, G, R per pixel, rows top first and without padding at this width: OpenCV's own layout.
    const auto bytes = static_cast<uint32_t>(frame.total() * frame.elemSize());
    if (!setup.ok || Quorix_GetImage(setup.handle, frame.data, bytes, 1) != 1) {
        state.SkipWithError("the emulated camera gives no frame in this colour type");
        return;
    }
    std::vector<int> parameters;
    if (format == QUORIX_SAVE_JPEG_HIGH) {
        parameters = {cv::IMWRITE_JPEG_QUALITY, 100, cv::IMWRITE_JPEG_PROGRESSIVE, 1};
    }
    const fs::path path = BenchDirectory() / ("quorix-bench-cv" + std::string(Extension(format)));
    for (auto _ : state) {
        if (!cv::imwrite(path.string(), frame, parameters)) {
            state.SkipWithError("cv::imwrite failed");
            break;
        }
    }
    std::error_code error;
    state.counters["file_bytes"] = static_cast<double>(fs::file_size(path, error));
    fs::remove(path, error);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_OpenCvImwrite)
    ->ArgNames({"format", "bits"})
    ->Args({QUORIX_SAVE_BMP, 24})
    ->Args({QUORIX_SAVE_JPEG_HIGH, 24})
    ->Args({QUORIX_SAVE_PNG, 24})
    ->Args({QUORIX_SAVE_TIFF, 24})
    ->Args({QUORIX_SAVE_PNG, 48})
    ->Args({QUORIX_SAVE_TIFF, 48})
    ->Unit(benchmark::kMillisecond);

}  // namespace
