#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/usb/usb_link.h"
#include "sim/emulated_camera.h"

namespace quorix::sim {

// The in-process source of emulated cameras for the SDK's driver: it lists the attached cameras
// that are plugged in and opens links bound to their current plug-in. One per process, created
// and registered with the driver by the first AttachCamera (defined with it, in the quorix_sim
// library, apart from the emulator that the daemon and the quorix tool use). Thread-safe.
class InProcessProvider final : public platform::usb::UsbLinkProvider {
public:
    std::vector<platform::usb::LinkDescriptor> Enumerate() override;
    std::shared_ptr<platform::usb::UsbLink> Open(const std::string& instanceId) override;

    void Add(const std::shared_ptr<EmulatedCamera>& camera);
    // Removes the camera; false when it was not listed.
    bool Remove(const std::shared_ptr<EmulatedCamera>& camera);
    // Removes every camera and returns them.
    std::vector<std::shared_ptr<EmulatedCamera>> RemoveAll();
    std::vector<std::shared_ptr<EmulatedCamera>> Cameras() const;

private:
    mutable std::mutex m_mutex;
    std::vector<std::shared_ptr<EmulatedCamera>> m_cameras;
};

}  // namespace quorix::sim
