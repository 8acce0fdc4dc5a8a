// Streaming 2048 x 1536 at 8 bits through the two links the SDK's driver has for a camera in the
// same run: the in-process emulator's link, and libusb on an emulated camera that umockdev shows
// as a SuperSpeed USB device (the camera model behind usbfs URBs, tests/support/umockdev_camera.h).
// The engine's capture thread stores every frame of a camera that answers each frame request at
// once. Reported: items_per_second (frames per second, wall clock) and cpu_ms_per_frame (CPU time
// of the whole process per stored frame: the SDK's threads, libusb's and the emulation's).
//
// Caveat: umockdev's emulated device node always polls ready, so libusb's event thread spins
// while transfers are pending, and umockdev copies every transfer buffer through its socket both
// ways. The libusb figures therefore show what the link costs on top of that emulation, not what
// a camera on a real bus costs: there the event thread sleeps in poll until the controller
// completes a transfer. Run under umockdev-wrapper (without it the libusb case is skipped).

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cstdint>
#include <memory>

#include "engine/quorix_u3r5_base.h"
#include "private_device_table.h"
#include "sensors/sensor_base.h"
#include "sim/emulator.h"
#include "support/umockdev_camera.h"

namespace {

using quorix::CQuorixUSB3R5SimpleSdk;
using quorix::testing::UmockdevCamera;

constexpr int32_t kImx252 = 12736;
constexpr uint8_t kFpgaDataWidth = 0x3C;
constexpr uint32_t kFrameWaitMs = 3000;

quorix::sim::CameraConfig FastCamera() {
    quorix::sim::CameraConfig config;
    config.asFastAsPossible = true;
    return config;
}

// The umockdev camera, made before libusb starts (it watches the device tree it starts with).
UmockdevCamera* UsbCamera() {
    static UmockdevCamera* camera =
        UmockdevCamera::InMockEnvironment() ? new UmockdevCamera(FastCamera()) : nullptr;
    return camera;
}

double ProcessCpuMs() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

// Streams from whichever camera the driver lists first: the benchmark leaves exactly one.
void Stream(benchmark::State& state) {
    quorix::bench::PrivateDeviceTable table;
    CQuorixUSB3R5SimpleSdk engine;
    if (engine.SetCameraId(kImx252) != 1 ||
        engine.CreateController(quorix::platform::WindowHandle{}, nullptr) != 1 ||
        engine.OpenCamera(0) != 0 || engine.Sensor()->SetDataWidth(0) != 1 ||
        engine.WriteFpgaRegister(kFpgaDataWidth, 1) != 1 ||
        engine.Sensor()->SetCaptureWindow(0, 2048, 0, 1536, 0) != 1 ||
        engine.StartCapture(0) != 1) {
        state.SkipWithError("the camera does not open or capture");
        return;
    }
    const auto waitAfter = [&engine](uint64_t seen) {
        while (engine.FramesStored() <= seen)
            if (engine.WaitFrame(kFrameWaitMs) == 1)
                return false;
        return true;
    };
    if (!waitAfter(0)) {
        state.SkipWithError("no first frame");
        return;
    }
    const uint64_t first = engine.FramesStored();
    const double cpuBefore = ProcessCpuMs();
    for (auto _ : state) {
        if (!waitAfter(engine.FramesStored())) {
            state.SkipWithError("capture failed");
            break;
        }
    }
    const double cpu = ProcessCpuMs() - cpuBefore;
    const uint64_t frames = engine.FramesStored() - first;
    engine.StopCapture(0);
    state.SetItemsProcessed(static_cast<int64_t>(frames));
    state.SetBytesProcessed(static_cast<int64_t>(frames * engine.FrameSize()));
    state.counters["cpu_ms_per_frame"] = frames > 0 ? cpu / static_cast<double>(frames) : 0.0;
}

void BM_Stream8_InProcessLink(benchmark::State& state) {
    if (UmockdevCamera* usb = UsbCamera())
        usb->Unplug();
    quorix::sim::AttachCamera(FastCamera());
    Stream(state);
    quorix::sim::DetachAllCameras();
}
BENCHMARK(BM_Stream8_InProcessLink)->UseRealTime()->MinTime(3.0)->Unit(benchmark::kMillisecond);

void BM_Stream8_LibusbUmockdev(benchmark::State& state) {
    UmockdevCamera* usb = UsbCamera();
    if (usb == nullptr || !usb->Plug()) {
        state.SkipWithError("needs umockdev: run under umockdev-wrapper");
        return;
    }
    Stream(state);
    usb->Unplug();
}
BENCHMARK(BM_Stream8_LibusbUmockdev)->UseRealTime()->MinTime(3.0)->Unit(benchmark::kMillisecond);

}  // namespace
