// The SDK against an emulated camera seen as a SuperSpeed USB device through umockdev: libusb
// (unmodified) enumerates it from sysfs, opens its device node and carries every transfer out as
// usbfs URBs, which the camera model answers (support/umockdev_camera.h). So the libusb link, the
// hot-plug watch and the device-change messages run as they run against a camera on the bus.
// The program must run under umockdev-wrapper (ctest does so); without it every test is skipped.

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <quorix/quorix.h>

#include "component/context/picture_support.h"
#include "platform/usb/device_io.h"
#include "sim/camera_registers.h"
#include "sim/emulator.h"
#include "support/umockdev_camera.h"
#include "unit/transport/section_test_support.h"

namespace quorix {
namespace {

using testing::UmockdevCamera;

constexpr int32_t kMessageWaitMs = 10'000;
constexpr uint32_t kFull8Bytes = 2048u * 1536u;
constexpr char kPath[] = "\\\\?\\usb#vid_04b4&pid_31c0#2-1#{5d1b7c2e-4a90-4f6b-8e13-9c07a2f4d6b1}";

class UsbOverUmockdev : public ::testing::Test {
protected:
    // One device tree per process: libusb watches the tree that existed when it started, so the
    // camera is made before the SDK first looks for cameras and lives as long as the process.
    static UmockdevCamera& Device() {
        static UmockdevCamera* device = new UmockdevCamera(FastCamera());
        return *device;
    }
    static sim::CameraConfig FastCamera() {
        sim::CameraConfig config;
        config.framesPerSecond = 30.0;
        return config;
    }

    void SetUp() override {
        if (!UmockdevCamera::InMockEnvironment())
            GTEST_SKIP() << "needs umockdev's preload library: run under umockdev-wrapper";
        ASSERT_TRUE(Device().Plug());
        Device().Camera()->Faults().ClearAll();
        Device().SetClaimedElsewhere(false);
    }
    void TearDown() override {
        for (const QuorixHandle handle : m_handles)
            Quorix_Release(handle);
        for (const QuorixWindow window : m_windows)
            Quorix_DestroyMessageWindow(window);
    }

    QuorixWindow MakeWindow() {
        const QuorixWindow window = Quorix_CreateMessageWindow();
        EXPECT_NE(window, nullptr);
        m_windows.push_back(window);
        return window;
    }
    // A context whose notification window is `window`; the one camera opens with it.
    // Frames are delivered without a preview window.
    QuorixHandle Initialize(QuorixWindow window) {
        const QuorixHandle handle = Quorix_Initialize(window);
        EXPECT_NE(handle, 0u);
        m_handles.push_back(handle);
        EXPECT_EQ(Quorix_SetPreviewWindow(handle, nullptr, 0, 0, 0, 0), 1);
        return handle;
    }
    // The next message of kind `kind` posted to `window` (others are skipped).
    static std::optional<QuorixMessage> Next(QuorixWindow window, uint32_t kind) {
        const auto end =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(kMessageWaitMs);
        QuorixMessage message{};
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                end - std::chrono::steady_clock::now());
            if (left.count() <= 0 ||
                Quorix_GetWindowMessage(window, &message, static_cast<int32_t>(left.count())) != 1)
                return std::nullopt;
            if (message.message == kind)
                return message;
        }
    }
    static uint32_t LastError(QuorixHandle handle) { return Quorix_GetLastError(handle); }

    // A full-resolution 8-bit raw snapshot, checked against the scene.
    static void SnapAndCheck(QuorixHandle handle) {
        std::vector<uint8_t> picture(kFull8Bytes);
        ASSERT_EQ(Quorix_SnapShot(handle, picture.data(), kFull8Bytes, 1), 1)
            << "code " << LastError(handle);
        const test::PictureGeometry g = test::ExpectedGeometry({}, false, false, false);
        const test::PictureView view(picture.data(), 8, g.width, g.height, 1);
        const test::PictureSummary seen = test::CheckPicture(view, g, test::kDefaultBrightness,
                                                             Device().Camera()->FramesProduced());
        EXPECT_EQ(seen.patches, static_cast<int>(sim::kPatchCount));
    }

    test::ScopedSectionName m_section;  // a device table of this test alone
    std::vector<QuorixHandle> m_handles;
    std::vector<QuorixWindow> m_windows;
};

// Listing, opening, the sensor's start-up, a snapshot at full resolution and a stream of frames,
// all through libusb: the camera is listed under its port's path, the picture matches the scene
// (pixel for pixel where sampled: a lost or misplaced piece of a bulk transfer shows), and the
// streamed frames come without failures.
TEST_F(UsbOverUmockdev, ListsOpensSnapsAndStreams) {
    const uint64_t submittedBefore = Device().Submissions();
    const QuorixHandle handle = Initialize(nullptr);
    char names[10][256] = {};
    ASSERT_EQ(Quorix_EnumDevice(handle, names), 1);
    ASSERT_EQ(Quorix_SetColorMode(handle, 8), 1);
    ASSERT_EQ(Quorix_SetSubSample(handle, 0), 1);
    ASSERT_NO_FATAL_FAILURE(SnapAndCheck(handle));
    EXPECT_GT(Device().Submissions(), submittedBefore) << "the transfers did not reach usbfs";

    const QuorixWindow window = MakeWindow();
    std::vector<uint8_t> buffer(kFull8Bytes);
    ASSERT_EQ(Quorix_CallBackPreview(handle, window, buffer.data(), kFull8Bytes, 1), 1);
    for (int frame = 0; frame < 5; ++frame) {
        const std::optional<QuorixMessage> message = Next(window, QUORIX_MSG_FRAME);
        ASSERT_TRUE(message.has_value()) << "frame " << frame;
        ASSERT_NE(message->wParam, 0u) << "frame " << frame << " failed: " << message->lParam;
    }
    ASSERT_EQ(Quorix_StopPreview(handle), 1);
    QuorixFrameStatistics statistics{};
    statistics.size = sizeof statistics;
    ASSERT_EQ(Quorix_GetFrameStatistics(handle, &statistics), 1);
    EXPECT_GE(statistics.framesDelivered, 5u);
    EXPECT_EQ(statistics.failedTransfer, 0u);
}

// Faults as the bus shows them: a control request that stalls fails the call (code 6) and the
// next one works; frame data that ends early (a short bulk transfer) and frame data that never
// comes (the receive times out and is aborted) each cost one recovery, and the next snapshot
// shows the scene.
TEST_F(UsbOverUmockdev, StallShortTransferAndTimeOutRecover) {
    const QuorixHandle handle = Initialize(nullptr);
    ASSERT_EQ(Quorix_SetColorMode(handle, 8), 1);
    ASSERT_EQ(Quorix_SetSubSample(handle, 0), 1);
    int32_t ok = 0;
    Quorix_ReadRegisterEx(handle, 0x20E, &ok);
    ASSERT_EQ(ok, 1);
    Device().Camera()->Faults().RefuseBusDevice(sim::reg::kBusSensorBridge, 1000);
    Quorix_ReadRegisterEx(handle, 0x20E, &ok);
    EXPECT_EQ(ok, 0);
    EXPECT_EQ(LastError(handle), 6u);
    Device().Camera()->Faults().ClearAll();
    Quorix_ReadRegisterEx(handle, 0x20E, &ok);
    EXPECT_EQ(ok, 1) << "no recovery after the stalled requests";

    Device().Camera()->Faults().ShortenFrameData(1, 4096);
    ASSERT_NO_FATAL_FAILURE(SnapAndCheck(handle)) << "after a short transfer";
    // The receive waits longer than a snapshot does: the snapshot fails with code 8 and the
    // receive is aborted; the next snapshot starts afresh.
    Device().Camera()->Faults().StallFrameData(1);
    std::vector<uint8_t> picture(kFull8Bytes);
    EXPECT_EQ(Quorix_SnapShot(handle, picture.data(), kFull8Bytes, 1), 0);
    EXPECT_EQ(LastError(handle), 8u);
    EXPECT_EQ(Device().Camera()->Counters().dataStalls, 1u);
    ASSERT_NO_FATAL_FAILURE(SnapAndCheck(handle)) << "after a receive that timed out";
}

// A camera in use by another process (its interface claimed there) does not open: the driver's
// handle is invalid (code 6 on every request), the context cannot select it (code 2) and a line
// on stderr says why; once the other process lets go it opens.
TEST_F(UsbOverUmockdev, CameraInUseElsewhereFailsClearly) {
    Device().SetClaimedElsewhere(true);
    ::testing::internal::CaptureStderr();
    platform::usb::DeviceHandle busy = platform::usb::DeviceHandle::Open(kPath, false);
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_FALSE(busy.IsValid());
    uint32_t error = 0;
    uint8_t speed[4] = {};
    EXPECT_FALSE(platform::usb::DeviceIoControl(busy, platform::usb::kIoctlDeviceSpeed, nullptr, 0,
                                                speed, sizeof speed, nullptr, nullptr, &error));
    EXPECT_EQ(error, 6u);
    EXPECT_NE(said.find("in use by another process"), std::string::npos) << said;
    EXPECT_NE(said.find(Device().Node()), std::string::npos) << said;

    // Through the API the camera is not there to open: code 2, at once.
    const QuorixHandle handle = Initialize(nullptr);
    EXPECT_EQ(Quorix_SetDeviceNumber(handle, 0), 0);
    EXPECT_EQ(LastError(handle), 2u);

    Device().SetClaimedElsewhere(false);
    platform::usb::DeviceHandle free = platform::usb::DeviceHandle::Open(kPath, false);
    ASSERT_TRUE(free.IsValid());
    ASSERT_TRUE(platform::usb::DeviceIoControl(free, platform::usb::kIoctlDeviceSpeed, nullptr, 0,
                                               speed, sizeof speed, nullptr, nullptr, &error));
    EXPECT_EQ(speed[0], 4) << "a SuperSpeed camera";
}

// A device node the user may not open: the camera is not opened, and the line on stderr names
// the node and the udev rule. Root opens any node, so this runs only for another user (ctest runs
// it once more as user nobody when the suite runs as root and setpriv is there).
TEST_F(UsbOverUmockdev, NodeWithoutPermissionNamesTheRule) {
    if (geteuid() == 0)
        GTEST_SKIP() << "root opens any device node";
    ASSERT_TRUE(Device().SetNodeMode(0));
    struct NodeModeBack {
        ~NodeModeBack() { Device().SetNodeMode(0666); }
    } back;
    ::testing::internal::CaptureStderr();
    platform::usb::DeviceHandle denied = platform::usb::DeviceHandle::Open(kPath, false);
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_FALSE(denied.IsValid());
    EXPECT_NE(said.find("no permission to open " + Device().Node()), std::string::npos) << said;
    EXPECT_NE(said.find("70-quorix.rules"), std::string::npos) << said;
}

// An unplug while streaming ends the frames with code 13 and the camera is no longer listed; the
// notification window receives the removal and, on replug, the arrival, each naming the camera's
// path (the same port, so the same path), and no other window or queue does; the camera then
// opens again in the same process.
TEST_F(UsbOverUmockdev, UnplugWhileStreamingAndReplug) {
    const QuorixWindow notices = MakeWindow();
    const QuorixHandle handle = Initialize(notices);
    ASSERT_EQ(Quorix_SetColorMode(handle, 8), 1);
    ASSERT_EQ(Quorix_SetSubSample(handle, 0), 1);
    const QuorixWindow frames = MakeWindow();
    std::vector<uint8_t> buffer(kFull8Bytes);
    ASSERT_EQ(Quorix_CallBackPreview(handle, frames, buffer.data(), kFull8Bytes, 1), 1);
    const std::optional<QuorixMessage> first = Next(frames, QUORIX_MSG_FRAME);
    ASSERT_TRUE(first.has_value());
    ASSERT_NE(first->wParam, 0u);

    Device().Unplug();
    bool stopped = false;
    while (!stopped) {
        const std::optional<QuorixMessage> message = Next(frames, QUORIX_MSG_FRAME);
        ASSERT_TRUE(message.has_value()) << "no notification with code 13 after the unplug";
        stopped = message->wParam == 0 && message->lParam == 13;
    }
    EXPECT_EQ(Quorix_StopPreview(handle), 1);
    const std::optional<QuorixMessage> removal = Next(notices, QUORIX_MSG_DEVICE_CHANGE);
    ASSERT_TRUE(removal.has_value()) << "no removal notice";
    EXPECT_EQ(removal->wParam, QUORIX_DEVICE_REMOVE_COMPLETE);
    const auto* removed = reinterpret_cast<const QuorixDeviceInterface*>(removal->lParam);
    ASSERT_NE(removed, nullptr);
    EXPECT_EQ(removed->deviceType, QUORIX_DEVICE_TYPE_INTERFACE);
    EXPECT_STREQ(removed->name, kPath);
    EXPECT_EQ(removed->size, offsetof(QuorixDeviceInterface, name) + std::strlen(kPath) + 1);
    char names[10][256] = {};
    EXPECT_EQ(Quorix_EnumDevice(handle, names), 0) << "an unplugged camera is listed";

    ASSERT_TRUE(Device().Plug());
    const std::optional<QuorixMessage> arrival = Next(notices, QUORIX_MSG_DEVICE_CHANGE);
    ASSERT_TRUE(arrival.has_value()) << "no arrival notice";
    EXPECT_EQ(arrival->wParam, QUORIX_DEVICE_ARRIVAL);
    EXPECT_STREQ(reinterpret_cast<const QuorixDeviceInterface*>(arrival->lParam)->name, kPath);
    // Only the notification window hears of devices: not the frames' window, nor a context
    // made without a window.
    QuorixMessage other{};
    while (Quorix_PeekWindowMessage(frames, &other) == 1)
        EXPECT_NE(other.message, QUORIX_MSG_DEVICE_CHANGE) << "posted to the frames' window";
    while (Quorix_PeekThreadMessage(&other) == 1)
        EXPECT_NE(other.message, QUORIX_MSG_DEVICE_CHANGE) << "posted to a thread queue";
    ASSERT_EQ(Quorix_EnumDevice(handle, names), 1);
    // The name ends in NN = device index + 1.
    const int32_t index = std::atoi(names[0] + std::strlen(names[0]) - 2) - 1;
    ASSERT_EQ(Quorix_SetDeviceNumber(handle, index), 1) << "code " << LastError(handle);
    ASSERT_NO_FATAL_FAILURE(SnapAndCheck(handle)) << "after the replug";
}

}  // namespace
}  // namespace quorix
