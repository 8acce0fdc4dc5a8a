#include <gtest/gtest.h>

#include "fake_usb_link.h"
#include "platform/usb/device_io.h"

namespace quorix::platform::usb {
namespace {

using usbtest::ScopedFakeProvider;

constexpr Guid kOtherClass = {0x11111111, 0x2222, 0x3333, {4, 4, 5, 5, 6, 6, 7, 7}};
const char* const kCameraClassText = "{5d1b7c2e-4a90-4f6b-8e13-9c07a2f4d6b1}";

std::string CameraPath(const char* ids, const char* instance) {
    return std::string("\\\\?\\usb#") + ids + "#" + instance + "#" + kCameraClassText;
}

class Enumeration : public ::testing::Test {
protected:
    // An emulator daemon named by the environment would add cameras to every list here.
    void SetUp() override { usbtest::SetSimDirectory(nullptr); }
};

TEST_F(Enumeration, NoProviderNoDevice) {
    EXPECT_TRUE(EnumerateDeviceInterfaces(kCameraInterfaceGuid).empty());
    EXPECT_FALSE(DeviceHandle::Open(CameraPath("vid_04b4&pid_31c0", "a"), false).IsValid());
}

// Instance numbers in the device table follow this order, so it must not depend on chance.
TEST_F(Enumeration, ListsProvidersInRegistrationOrderAndDevicesInTheirOrder) {
    ScopedFakeProvider first;
    ScopedFakeProvider second;
    first->Plug(0x04B4, 0x31C0, "b1");
    first->Plug(0x04B4, 0x31C0, "a2");
    second->Plug(0x04B4, 0x00F3, "c3");
    first->Plug(0x1234, 0x5678, "other", kOtherClass);

    const std::vector<std::string> expected = {CameraPath("vid_04b4&pid_31c0", "b1"),
                                               CameraPath("vid_04b4&pid_31c0", "a2"),
                                               CameraPath("vid_04b4&pid_00f3", "c3")};
    EXPECT_EQ(EnumerateDeviceInterfaces(kCameraInterfaceGuid), expected);
    EXPECT_EQ(EnumerateDeviceInterfaces(kCameraInterfaceGuid), expected) << "second enumeration";
    EXPECT_EQ(EnumerateDeviceInterfaces(kOtherClass),
              std::vector<std::string>{"\\\\?\\usb#vid_1234&pid_5678#other#"
                                       "{11111111-2222-3333-0404-050506060707}"});
    for (const std::string& path : expected)
        EXPECT_TRUE(DeviceHandle::Open(path, true).IsValid()) << path;
}

TEST_F(Enumeration, ProviderRegisteredTwiceIsListedOnce) {
    ScopedFakeProvider provider;
    RegisterProvider(provider.Get());
    provider->Plug(0x04B4, 0x31C0, "once");
    EXPECT_EQ(EnumerateDeviceInterfaces(kCameraInterfaceGuid).size(), 1u);
}

// After a replug the camera is a new device: the handle on the old path must not reach it.
TEST_F(Enumeration, ReplugGivesANewPathAndTheOldPathNoLongerOpens) {
    ScopedFakeProvider bus;
    bus->Plug(0x04B4, 0x31C0, "first");
    const std::string oldPath = CameraPath("vid_04b4&pid_31c0", "first");
    DeviceHandle held = DeviceHandle::Open(oldPath, true);
    ASSERT_TRUE(held.IsValid());

    bus->Unplug("first");
    bus->Plug(0x04B4, 0x31C0, "second");
    const std::string newPath = CameraPath("vid_04b4&pid_31c0", "second");
    EXPECT_EQ(EnumerateDeviceInterfaces(kCameraInterfaceGuid), std::vector<std::string>{newPath});
    EXPECT_FALSE(DeviceHandle::Open(oldPath, false).IsValid());
    EXPECT_TRUE(DeviceHandle::Open(newPath, false).IsValid());

    // The handle held across the unplug stays a handle, but its device is gone.
    uint32_t speed = 0;
    uint32_t error = 0;
    EXPECT_FALSE(DeviceIoControl(held, kIoctlDeviceSpeed, nullptr, 0, &speed, sizeof speed, nullptr,
                                 nullptr, &error));
    EXPECT_EQ(error, kErrorDeviceNotConnected);
}

TEST_F(Enumeration, UnregisteredProviderIsNoLongerListedOrOpened) {
    auto provider = std::make_shared<usbtest::FakeProvider>();
    provider->Plug(0x04B4, 0x31C0, "gone");
    RegisterProvider(provider);
    const std::string path = CameraPath("vid_04b4&pid_31c0", "gone");
    DeviceHandle held = DeviceHandle::Open(path, true);
    ASSERT_TRUE(held.IsValid());
    UnregisterProvider(provider);
    EXPECT_TRUE(EnumerateDeviceInterfaces(kCameraInterfaceGuid).empty());
    EXPECT_FALSE(DeviceHandle::Open(path, true).IsValid());
}

TEST_F(Enumeration, HandlesMoveAndCloseOnce) {
    ScopedFakeProvider bus;
    bus->Plug(0x04B4, 0x31C0, "m");
    DeviceHandle first = DeviceHandle::Open(CameraPath("vid_04b4&pid_31c0", "m"), false);
    ASSERT_TRUE(first.IsValid());
    DeviceHandle second = std::move(first);
    EXPECT_FALSE(first.IsValid());  // NOLINT(bugprone-use-after-move,clang-analyzer-cplusplus.Move)
    EXPECT_TRUE(second.IsValid());
    second.Close();
    second.Close();
    EXPECT_FALSE(second.IsValid());
}

}  // namespace
}  // namespace quorix::platform::usb
