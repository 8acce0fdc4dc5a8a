#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "sim/camera_config.h"
#include "sim/emulated_camera.h"

namespace quorix::testing {

// An emulated camera (the same camera model as the in-process emulator) exposed as a SuperSpeed
// USB device through umockdev, so that the SDK reaches it through unmodified libusb and usbfs:
// sysfs attributes and descriptors (interface 0 with bulk endpoints 0x81, 0x01 and 0x83), a
// device node /dev/bus/usb/002/NNN on port 2-1, and an ioctl handler that carries out libusb's
// URBs on the camera's own USB operations. Bulk URBs run on one thread per endpoint, so a
// receive waits for the camera's frame as it would on the bus; control URBs complete at once.
// Stalls, short transfers and unplugs come from the camera model (its faults, Unplug).
//
// Needs umockdev's preload library (run under umockdev-wrapper); one per process.
class UmockdevCamera {
public:
    // True when the process runs with umockdev's preload library.
    static bool InMockEnvironment();

    explicit UmockdevCamera(const sim::CameraConfig& config = {});
    ~UmockdevCamera();
    UmockdevCamera(const UmockdevCamera&) = delete;
    UmockdevCamera& operator=(const UmockdevCamera&) = delete;

    const std::shared_ptr<sim::EmulatedCamera>& Camera() const;

    // Plugs the camera in (a new device number on the same port) and announces it; false with a
    // message on stderr when umockdev refuses.
    bool Plug();
    // Pulls the plug: pending URBs end as on a disconnect, the node goes and the removal is
    // announced.
    void Unplug();
    // While set, claiming the interface fails as when another process holds it.
    void SetClaimedElsewhere(bool claimed);
    // The device node of the current plug-in.
    std::string Node() const;
    // Sets the permission bits of the node's file in the test bed (root ignores them).
    bool SetNodeMode(unsigned mode);
    // URBs submitted so far.
    uint64_t Submissions() const;

    struct State;

private:
    std::unique_ptr<State> m_state;
};

}  // namespace quorix::testing
