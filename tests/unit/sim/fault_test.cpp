// Injected faults of the emulated camera, unplug and replug, the in-process provider, and the
// blocking behaviour of the bulk stream under cancellation from other threads.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <future>
#include <thread>

#include "platform/clock.h"
#include "sim/emulator.h"
#include "sim_test_host.h"

namespace quorix::sim::test {
namespace {

// Generous bound for "must not hang" checks.
constexpr auto kHangLimit = std::chrono::seconds(30);

// An emulated camera answering frame requests at once with small 128 x 64 8-bit frames.
struct FastSmallCamera {
    FastSmallCamera() {
        CameraConfig config;
        config.asFastAsPossible = true;
        camera = CreateCamera(config);
        owned = std::make_unique<TestHost>(*camera);
        host = owned.get();
        EXPECT_TRUE(host->SetFrameGeometry(128, 64));
    }
    std::shared_ptr<EmulatedCamera> camera;
    std::unique_ptr<TestHost> owned;
    TestHost* host = nullptr;
};

// Receives on 0x81 on another thread and cancels it after `delayMs` of real time.
TransferResult ReceiveCancelledAfter(UsbLink& link, size_t length, int delayMs) {
    CancelToken token;
    std::vector<uint8_t> buffer(length);
    auto pending = std::async(std::launch::async, [&] {
        size_t moved = 0;
        return link.BulkTransfer(0x81, buffer.data(), buffer.size(), &moved, token);
    });
    EXPECT_EQ(pending.wait_for(std::chrono::milliseconds(delayMs)), std::future_status::timeout);
    token.Cancel();
    EXPECT_EQ(pending.wait_for(kHangLimit), std::future_status::ready);
    return pending.get();
}

// A swallowed frame request leaves the host without a header; its recovery (transfer reset
// pulse, new request) must then get a frame.
TEST(EmulatorFaults, DroppedHeaderThenRecovery) {
    FastSmallCamera s;
    s.camera->Faults().DropFrameHeaders(1);
    ASSERT_TRUE(s.host->RequestFrame());
    EXPECT_EQ(ReceiveCancelledAfter(*s.camera, 64, 50), TransferResult::kCancelled);
    ASSERT_TRUE(s.host->WriteFpga(0x6C, 1));
    ASSERT_TRUE(s.host->WriteFpga(0x6C, 0));
    const FrameRead frame = s.host->ReadFrame();
    EXPECT_EQ(frame.byteCount, 128u * 64u);
    const CameraCounters c = s.camera->Counters();
    EXPECT_EQ(c.headersDropped, 1u);
    EXPECT_EQ(c.transferResets, 1u);
    EXPECT_EQ(c.frameRequests, 2u);
    EXPECT_EQ(c.framesSent, 1u);
}

// Frame data that stalls: the header arrives, the data never, until the pipe is reset.
TEST(EmulatorFaults, StalledFrameDataUntilPipeReset) {
    FastSmallCamera s;
    s.camera->Faults().StallFrameData(1);
    ASSERT_TRUE(s.host->RequestFrame());
    std::vector<uint8_t> header(64);
    size_t moved = 0;
    ASSERT_EQ(s.host->Receive(0x81, header, &moved), TransferResult::kCompleted);
    EXPECT_EQ(Le32(header.data() + 16), 128u * 64u);
    EXPECT_EQ(ReceiveCancelledAfter(*s.camera, 128 * 64, 50), TransferResult::kCancelled);
    // Still stalled after the cancel: nothing arrives by itself.
    EXPECT_EQ(ReceiveCancelledAfter(*s.camera, 128 * 64, 20), TransferResult::kCancelled);
    ASSERT_TRUE(s.camera->ResetPipe(0x81));
    const FrameRead frame = s.host->ReadFrame();
    EXPECT_EQ(frame.data.size(), 128u * 64u);
    EXPECT_EQ(s.camera->Counters().dataStalls, 1u);
    EXPECT_EQ(s.camera->Counters().cancelledTransfers, 2u);
}

// Short frame data: the header announces the full count, the data ends early with a short
// transfer, and the next frame is whole again.
TEST(EmulatorFaults, ShortFrameData) {
    FastSmallCamera s;
    s.camera->Faults().ShortenFrameData(1, 100);
    ASSERT_TRUE(s.host->RequestFrame());
    std::vector<uint8_t> header(64);
    size_t moved = 0;
    ASSERT_EQ(s.host->Receive(0x81, header, &moved), TransferResult::kCompleted);
    EXPECT_EQ(Le32(header.data() + 16), 128u * 64u);
    std::vector<uint8_t> data(128 * 64);
    ASSERT_EQ(s.host->Receive(0x81, data, &moved), TransferResult::kCompleted);
    EXPECT_EQ(moved, 128u * 64u - 100u);
    const FrameRead next = s.host->ReadFrame();
    EXPECT_EQ(next.data.size(), 128u * 64u);
    EXPECT_EQ(s.camera->Counters().shortFrames, 1u);
}

// A geometry with no pixels, or more than the host's largest transfer, gets no header at all.
TEST(EmulatorFaults, ImpossibleGeometryIsNotAnswered) {
    FastSmallCamera s;
    ASSERT_TRUE(s.host->WriteFpga(0x44, 0));
    ASSERT_TRUE(s.host->RequestFrame());
    EXPECT_EQ(ReceiveCancelledAfter(*s.camera, 64, 30), TransferResult::kCancelled);
    ASSERT_TRUE(s.host->WriteFpga(0x44, 0xFF));  // 65535 x 65535 bytes
    ASSERT_TRUE(s.host->WriteFpga(0x45, 0xFF));
    ASSERT_TRUE(s.host->WriteFpga(0x40, 0xFF));
    ASSERT_TRUE(s.host->WriteFpga(0x41, 0xFF));
    ASSERT_TRUE(s.host->RequestFrame());
    EXPECT_EQ(ReceiveCancelledAfter(*s.camera, 64, 30), TransferResult::kCancelled);
    EXPECT_EQ(s.camera->Counters().headersDropped, 2u);
    EXPECT_EQ(s.camera->Counters().headersSent, 0u);
}

// Unplug: every operation reports the device gone; replug: a new instance id, the same camera.
TEST(EmulatorFaults, UnplugAndReplugKeepTheCameraState) {
    FastSmallCamera s;
    ASSERT_TRUE(s.host->WriteFpga(0x07, 0x33));
    auto link = s.camera->OpenPlugLink();
    ASSERT_TRUE(link);
    const std::string before = s.camera->InstanceId();

    Unplug(s.camera);
    EXPECT_FALSE(s.camera->IsConnected());
    EXPECT_FALSE(link->IsConnected());
    EXPECT_EQ(s.host->Control(kIn, 0xB0, 0, 0).result, TransferResult::kDisconnected);
    std::vector<uint8_t> buffer(64);
    size_t moved = 0;
    EXPECT_EQ(s.host->Receive(0x81, buffer, &moved), TransferResult::kDisconnected);
    EXPECT_EQ(s.host->Send(0x01, std::vector<uint8_t>(32), &moved), TransferResult::kDisconnected);
    EXPECT_FALSE(s.camera->ResetPipe(0x81));
    EXPECT_EQ(s.camera->OpenPlugLink(), nullptr);

    Replug(s.camera);
    EXPECT_TRUE(s.camera->IsConnected());
    EXPECT_NE(s.camera->InstanceId(), before);
    EXPECT_EQ(s.host->ReadFpga(0x07), 0x33);
    // A link of the old plug-in stays dead; a new one works.
    EXPECT_FALSE(link->IsConnected());
    SetupPacket setup{kIn, 0xB0, 0, 0, 64};
    std::array<uint8_t, 64> data{};
    EXPECT_EQ(link->ControlTransfer(setup, data.data(), &moved), TransferResult::kDisconnected);
    auto fresh = s.camera->OpenPlugLink();
    ASSERT_TRUE(fresh);
    EXPECT_EQ(fresh->ControlTransfer(setup, data.data(), &moved), TransferResult::kCompleted);
    EXPECT_EQ(moved, 64u);
}

// The provider lists attached cameras that are plugged in, under ids unique per plug-in, and
// opens links to them; the driver's registry knows it.
TEST(EmulatorFaults, ProviderFollowsAttachUnplugAndDetach) {
    CameraConfig config;
    config.serialNumber = "QX252-000101";
    auto a = AttachCamera(config);
    config.serialNumber = "QX252-000102";
    auto b = AttachCamera(config);
    const auto provider = EmulatorProvider();
    const auto registered = platform::usb::Providers();
    EXPECT_NE(std::find(registered.begin(), registered.end(), provider), registered.end());

    const auto ids = [&] {
        std::vector<std::string> result;
        for (const auto& d : provider->Enumerate()) {
            EXPECT_EQ(d.vendorId, 0x04B4);
            EXPECT_EQ(d.productId, 0x31C0);
            EXPECT_EQ(d.interfaceClass, platform::kCameraInterfaceGuid);
            result.push_back(d.instanceId);
        }
        return result;
    };
    EXPECT_EQ(ids(), (std::vector<std::string>{a->InstanceId(), b->InstanceId()}));
    EXPECT_EQ(a->InstanceId().rfind("sim&", 0), 0u);
    auto link = provider->Open(b->InstanceId());
    ASSERT_TRUE(link);
    TestHost host(*link);
    EXPECT_EQ(host.ReadEeprom(0x1040 + 11), '2');

    const std::string oldId = a->InstanceId();
    Unplug(a);
    EXPECT_EQ(ids(), (std::vector<std::string>{b->InstanceId()}));
    EXPECT_EQ(provider->Open(oldId), nullptr);
    Replug(a);
    EXPECT_EQ(ids().size(), 2u);
    EXPECT_EQ(provider->Open(oldId), nullptr);
    EXPECT_TRUE(provider->Open(a->InstanceId()));

    DetachAllCameras();
    EXPECT_TRUE(provider->Enumerate().empty());
    EXPECT_TRUE(AttachedCameras().empty());
    EXPECT_FALSE(link->IsConnected());
}

// --- threads ---

// A receive blocked for data must end at once when its token is cancelled from another thread.
TEST(EmulatorConcurrency, CancelEndsABlockedReceive) {
    auto camera = CreateCamera();
    for (uint8_t endpoint : {uint8_t{0x81}, uint8_t{0x83}}) {
        CancelToken token;
        std::vector<uint8_t> buffer(64);
        std::atomic<bool> started{false};
        auto pending = std::async(std::launch::async, [&] {
            size_t moved = 0;
            started = true;
            return camera->BulkTransfer(endpoint, buffer.data(), buffer.size(), &moved, token);
        });
        while (!started)
            std::this_thread::yield();
        platform::SleepMs(20);
        token.Cancel();
        ASSERT_EQ(pending.wait_for(kHangLimit), std::future_status::ready);
        EXPECT_EQ(pending.get(), TransferResult::kCancelled);
    }
}

// Unplugging ends a pending receive with kDisconnected, also one waiting for a frame's time.
TEST(EmulatorConcurrency, UnplugEndsAPendingReceive) {
    CameraConfig config;
    config.framesPerSecond = 0.01;  // the frame is 100 s away
    auto camera = CreateCamera(config);
    TestHost host(*camera);
    ASSERT_TRUE(host.SetFrameGeometry(64, 64));
    ASSERT_TRUE(host.RequestFrame());
    CancelToken token;
    std::vector<uint8_t> buffer(64);
    auto pending = std::async(std::launch::async, [&] {
        size_t moved = 0;
        return camera->BulkTransfer(0x81, buffer.data(), buffer.size(), &moved, token);
    });
    EXPECT_EQ(pending.wait_for(std::chrono::milliseconds(30)), std::future_status::timeout);
    Unplug(camera);
    ASSERT_EQ(pending.wait_for(kHangLimit), std::future_status::ready);
    EXPECT_EQ(pending.get(), TransferResult::kDisconnected);
    EXPECT_EQ(camera->Counters().disconnectedTransfers, 1u);
}

// The capture thread streams while application threads read and write registers: frames stay
// whole and every register access is answered.
TEST(EmulatorConcurrency, StreamingWhileOtherThreadsUseTheBus) {
    FastSmallCamera s;
    constexpr int kFrames = 40;
    std::atomic<bool> captureDone{false};
    auto capture = std::async(std::launch::async, [&] {
        TestHost host(*s.camera);
        int whole = 0;
        for (int i = 0; i < kFrames; ++i) {
            const FrameRead frame = host.ReadFrame();
            if (frame.data.size() == 128u * 64u && frame.byteCount == 128u * 64u)
                ++whole;
        }
        captureDone = true;
        return whole;
    });
    std::vector<std::future<int>> workers;
    static std::mutex registerLock;  // the host's FPGA register lock
    for (int t = 0; t < 2; ++t) {
        workers.push_back(std::async(std::launch::async, [&, t] {
            TestHost host(*s.camera);
            int failures = 0;
            // Each thread has a register of its own and keeps going while frames stream.
            for (int i = 0; i < 300 || !captureDone; ++i) {
                const auto value = static_cast<uint8_t>(i + t);
                // An FPGA read is a pointer write and a read; the host's register lock keeps
                // another thread's access out of the pair.
                std::lock_guard lock(registerLock);
                if (!host.WriteFpga(static_cast<uint8_t>(0x70 + t), value))
                    ++failures;
                if (host.ReadFpga(static_cast<uint8_t>(0x70 + t)) != value)
                    ++failures;
            }
            return failures;
        }));
    }
    ASSERT_EQ(capture.wait_for(kHangLimit), std::future_status::ready);
    EXPECT_EQ(capture.get(), kFrames);
    for (auto& worker : workers) {
        ASSERT_EQ(worker.wait_for(kHangLimit), std::future_status::ready);
        EXPECT_EQ(worker.get(), 0);
    }
    EXPECT_EQ(s.camera->Counters().framesSent, static_cast<uint64_t>(kFrames));
}

}  // namespace
}  // namespace quorix::sim::test
