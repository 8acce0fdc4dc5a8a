// Finding emulated cameras: the device table's entries and instance numbers as cameras come and
// go, and the table's life across CFx3Api objects.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "sim/emulator.h"
#include "transport/fx3_api.h"
#include "transport_test_support.h"

namespace quorix {
namespace {

using test::ScopedSectionName;

class TransportDiscoveryTest : public ::testing::Test {
protected:
    void TearDown() override { sim::DetachAllCameras(); }

    static std::shared_ptr<sim::EmulatedCamera> Attach(uint16_t productId) {
        sim::CameraConfig config;
        config.productId = productId;
        config.logCapacity = 0;
        return sim::AttachCamera(config);
    }
    static DeviceTableEntry Entry(int32_t index) {
        DeviceTableEntry entry;
        EXPECT_TRUE(CFx3Api::GetDeviceEntry(index, &entry));
        return entry;
    }
    static bool PathNames(const DeviceTableEntry& entry, const sim::EmulatedCamera& camera) {
        return std::string(entry.path).find("#" + camera.InstanceId() + "#") != std::string::npos;
    }

    ScopedSectionName m_section;
};

TEST_F(TransportDiscoveryTest, CamerasAreNumberedPerModelInEnumerationOrder) {
    auto first = Attach(0x31C0);
    auto other = Attach(0x31B0);
    auto second = Attach(0x31C0);
    CFx3Api api;
    ASSERT_EQ(api.EnumerateDevices(), 3);

    const DeviceTableEntry e0 = Entry(0);
    const DeviceTableEntry e1 = Entry(1);
    const DeviceTableEntry e2 = Entry(2);
    EXPECT_TRUE(PathNames(e0, *first));
    EXPECT_TRUE(PathNames(e1, *other));
    EXPECT_TRUE(PathNames(e2, *second));
    EXPECT_EQ(+e0.vendorId, 0x04B4);
    EXPECT_EQ(+e0.productId, 0x31C0);
    EXPECT_EQ(+e1.productId, 0x31B0);
    EXPECT_EQ(+e0.instance, 0);
    EXPECT_EQ(+e1.instance, 0);
    EXPECT_EQ(+e2.instance, 1);
    for (int32_t i = 0; i < 3; ++i)
        EXPECT_EQ(api.DeviceExists(i), 1) << i;

    // Enumerating again finds every path known: nothing is added, nothing renumbered.
    ASSERT_EQ(api.EnumerateDevices(), 3);
    EXPECT_EQ(+Entry(2).instance, 1);
    EXPECT_EQ(+Entry(3).instance, -1);
}

// An unplugged camera's entry no longer opens. While a live object holds it, it stays, and the
// camera plugged in again comes back under a new path with a new entry and the next number of
// its model; once nobody holds it, enumeration frees it and the others keep their numbers.
TEST_F(TransportDiscoveryTest, AReplugGetsANewEntryWhileTheOldOneIsHeld) {
    auto a = Attach(0x31C0);
    auto b = Attach(0x31C0);
    CFx3Api api;
    ASSERT_EQ(api.EnumerateDevices(), 2);
    api.HoldDeviceEntry(0);

    sim::Unplug(a);
    EXPECT_EQ(api.DeviceExists(0), 0);
    EXPECT_EQ(api.DeviceExists(1), 1);
    EXPECT_EQ(api.EnumerateDevices(), 2);

    sim::Replug(a);
    ASSERT_EQ(api.EnumerateDevices(), 3);
    const DeviceTableEntry replugged = Entry(2);
    EXPECT_TRUE(PathNames(replugged, *a));
    EXPECT_EQ(+replugged.instance, 2);
    EXPECT_EQ(+Entry(0).instance, 0);
    EXPECT_EQ(api.DeviceExists(0), 0);
    EXPECT_EQ(api.DeviceExists(2), 1);
    CFx3Api::DeviceHandle handle;
    EXPECT_EQ(api.OpenDevice(&handle, 0, true), 0);
    EXPECT_FALSE(handle.IsValid());

    api.HoldDeviceEntry(2);
    EXPECT_EQ(api.EnumerateDevices(), 3);
    EXPECT_EQ(+Entry(0).instance, -1);
    EXPECT_EQ(+Entry(1).instance, 1);
    EXPECT_EQ(+Entry(2).instance, 2);
}

// With all 32 entries in use (the unplugged camera's held), a new interface is not entered and
// the count stays 32.
TEST_F(TransportDiscoveryTest, AFullTableEntersNoThirtyThirdInterface) {
    std::vector<std::shared_ptr<sim::EmulatedCamera>> cameras;
    cameras.reserve(32);
    for (int i = 0; i < 32; ++i)
        cameras.push_back(Attach(0x31C0));
    CFx3Api api;
    ASSERT_EQ(api.EnumerateDevices(), 32);
    EXPECT_EQ(+Entry(31).instance, 31);
    api.HoldDeviceEntry(5);

    sim::Replug(cameras[5]);  // the 33rd distinct interface
    EXPECT_EQ(api.EnumerateDevices(), 32);
    for (int32_t i = 0; i < 32; ++i)
        EXPECT_FALSE(PathNames(Entry(i), *cameras[5])) << i;
    EXPECT_EQ(api.DeviceExists(5), 0);
}

TEST_F(TransportDiscoveryTest, TheTableStartsEmptyOnceTheLastUserIsGone) {
    Attach(0x31C0);
    Attach(0x31C0);
    {
        auto first = std::make_unique<CFx3Api>();
        ASSERT_EQ(first->EnumerateDevices(), 2);
        CFx3Api second;
        first.reset();
        // A user remains: the table lives on.
        EXPECT_EQ(CFx3Api::GetEntryCount(), 2);
        CFx3Api third;
        EXPECT_EQ(CFx3Api::GetEntryCount(), 2);
    }
    CFx3Api fresh;
    EXPECT_EQ(CFx3Api::GetEntryCount(), 0);
    EXPECT_EQ(+Entry(0).instance, -1);
    EXPECT_EQ(fresh.DeviceExists(0), 0);
    EXPECT_EQ(fresh.EnumerateDevices(), 2);
}

TEST_F(TransportDiscoveryTest, NoInterfaceMeansZeroAndTheTableKeepsItsEntries) {
    auto camera = Attach(0x31C0);
    CFx3Api api;
    ASSERT_EQ(api.EnumerateDevices(), 1);
    sim::DetachCamera(camera);
    EXPECT_EQ(api.EnumerateDevices(), 0);
    EXPECT_EQ(CFx3Api::GetEntryCount(), 1);
    EXPECT_EQ(api.DeviceExists(0), 0);
}

}  // namespace
}  // namespace quorix
